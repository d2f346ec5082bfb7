#include "wizard/run_progress.h"

#include <commctrl.h>

#include "resources/resource_ids.h"

namespace {

constexpr int kRange = 10000;  // the bar's positions
// How often, at most, the bar moves and messages are handed on while
// bytes are written: often enough for a window that answers at once, rarely
// enough that drawing the bar costs nothing next to the writing.
constexpr DWORD kPumpIntervalMs = 25;

struct Progress {
  HWND dialog;
  HWND bar;
  uint64_t total;
  uint64_t done;
  DWORD lastPump;
};
Progress progress{};

void Show() {
  if (!progress.bar) return;
  uint64_t total = progress.total ? progress.total : 1;
  uint64_t done = progress.done < total ? progress.done : total;
  SendMessageA(progress.bar, PBM_SETPOS, static_cast<WPARAM>(done * kRange / total), 0);
}

// Hands on every message that waits. Each look at the queue costs a round
// trip to the window system, so callers do it only every kPumpIntervalMs.
void Pump() {
  progress.lastPump = GetTickCount();
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // For the loop that owns it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (progress.dialog && IsDialogMessageA(progress.dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

void ProgressBegin(HWND dialog, uint64_t total) {
  progress = {dialog, GetDlgItem(dialog, IDC_PROGRESS), total, 0, 0};
  if (!progress.bar) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Under the status text, across its width (dialog units).
    RECT area{16, 48, 16 + 156, 48 + 10};
    MapDialogRect(dialog, &area);
    progress.bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, area.left, area.top,
                                   area.right - area.left, area.bottom - area.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)),
                                   nullptr, nullptr);
    if (progress.bar) SendMessageA(progress.bar, PBM_SETRANGE32, 0, kRange);
  }
  Show();
  if (progress.bar) ShowWindow(progress.bar, SW_SHOWNA);
  Pump();
}

void ProgressAddTotal(uint64_t bytes) {
  progress.total += bytes;
  Show();
}

void ProgressAdvance(uint64_t bytes) {
  progress.done += bytes;
  if (GetTickCount() - progress.lastPump < kPumpIntervalMs) return;
  Show();
  Pump();
}

void PumpMessages() {
  if (GetTickCount() - progress.lastPump >= kPumpIntervalMs) Pump();
}

void ProgressEnd() {
  if (progress.bar) ShowWindow(progress.bar, SW_HIDE);
  progress.total = progress.done = 0;
}

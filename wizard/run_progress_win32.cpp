#include "wizard/run_progress.h"

#include <commctrl.h>
#include <objbase.h>
#include <shobjidl.h>

#include "resources/resource_ids.h"
#include "wizard/window_scale.h"

namespace {

constexpr int kRange = 10000;  // the bar's positions
// How often, at most, the bar moves and messages are handed on while
// bytes are written: often enough for a window that answers at once, rarely
// enough that drawing the bar costs nothing next to the writing.
constexpr DWORD kPumpIntervalMs = 25;

// The system's taskbar list (CLSID_TaskbarList), whose ITaskbarList3 shows
// progress on a window's taskbar button (Windows 7 and later).
constexpr CLSID kTaskbarList = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};

struct Progress {
  HWND dialog;
  HWND bar;
  uint64_t total;
  uint64_t done;
  DWORD lastPump;
  ITaskbarList3* taskbar;  // null where the system has none
  int position;            // shown now, of kRange
  bool running;
  // Where the bar stood, and the bytes done, when the total last grew: the
  // rest of the bar is shared out over the rest of the bytes from there, so
  // that more bytes to write never move it back.
  int fromPosition;
  uint64_t fromDone;
};
Progress progress{};

ITaskbarList3* OpenTaskbar() {
  ITaskbarList3* taskbar = nullptr;
  if (FAILED(CoCreateInstance(kTaskbarList, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskbarList3),
                              reinterpret_cast<void**>(&taskbar))) ||
      !taskbar)
    return nullptr;
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    return nullptr;
  }
  return taskbar;
}

// The bar and the taskbar button at the bytes written so far.
void Show() {
  if (!progress.bar) return;
  uint64_t total = progress.total > progress.fromDone ? progress.total - progress.fromDone : 0;
  uint64_t done = progress.done > progress.fromDone ? progress.done - progress.fromDone : 0;
  if (done > total) done = total;
  int left = kRange - progress.fromPosition;
  int position = progress.fromPosition +
                 (total ? static_cast<int>(done * static_cast<uint64_t>(left) / total) : 0);
  SendMessageA(progress.bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  if (progress.taskbar && position != progress.position)
    progress.taskbar->SetProgressValue(progress.dialog, position, kRange);
  progress.position = position;
}

// The player is looking at the wizard or at one of its boxes.
bool InFront(HWND dialog) {
  HWND front = GetForegroundWindow();
  return front && GetAncestor(front, GA_ROOTOWNER) == dialog;
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

void ProgressOpenTaskbar() {
  if (!progress.taskbar) progress.taskbar = OpenTaskbar();
}

void ProgressCloseTaskbar() {
  if (progress.taskbar) progress.taskbar->Release();
  progress.taskbar = nullptr;
}

void ProgressBegin(HWND dialog, uint64_t total) {
  ITaskbarList3* taskbar = progress.taskbar;
  progress = {dialog, GetDlgItem(dialog, IDC_PROGRESS), total, 0, 0, taskbar, -1, true, 0, 0};
  if (!progress.bar) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Under the status text, across its width (dialog units).
    RECT area = DialogUnitsToPixels(dialog, 16, 48, 156, 10);
    progress.bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, area.left, area.top,
                                   area.right - area.left, area.bottom - area.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)),
                                   nullptr, nullptr);
    if (progress.bar) SendMessageA(progress.bar, PBM_SETRANGE32, 0, kRange);
  }
  if (progress.taskbar) progress.taskbar->SetProgressState(dialog, TBPF_NORMAL);
  Show();
  if (progress.bar) ShowWindow(progress.bar, SW_SHOWNA);
  Pump();
}

void ProgressAddTotal(uint64_t bytes) {
  if (progress.position > 0) {
    progress.fromPosition = progress.position;
    progress.fromDone = progress.done;
  }
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

namespace {
void SetTaskbarState(TBPFLAG state) {
  if (progress.taskbar && progress.running) progress.taskbar->SetProgressState(progress.dialog, state);
}
}  // namespace

void ProgressFailing() { SetTaskbarState(TBPF_ERROR); }
void ProgressPause() { SetTaskbarState(TBPF_PAUSED); }
void ProgressResume() { SetTaskbarState(TBPF_NORMAL); }

void ProgressEnd() {
  if (progress.bar) ShowWindow(progress.bar, SW_HIDE);
  progress.total = progress.done = 0;
  if (progress.taskbar) progress.taskbar->SetProgressState(progress.dialog, TBPF_NOPROGRESS);
  // A run that ended behind other windows calls for the player: the button
  // (and the caption) flash until the wizard comes to the front.
  if (progress.running && !InFront(progress.dialog)) {
    FLASHWINFO flash{sizeof flash, progress.dialog, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
  }
  progress.running = false;
}

#include "tests/support/message_boxes_win32.h"

#include <gtest/gtest.h>

namespace {

BoxWatcher* activeWatcher = nullptr;
HHOOK hook = nullptr;

constexpr int kMessageTextId = 0xFFFF;  // the static control holding the text
// The static control holding the icon: 0x14 on Windows, 1088 (stc1) on Wine.
HWND IconControl(HWND box) {
  HWND icon = GetDlgItem(box, 0x14);
  return icon ? icon : GetDlgItem(box, 1088);
}

std::string WindowText(HWND window) {
  char buffer[4096] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

bool IsMessageBox(HWND window) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  return lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, kMessageTextId) != nullptr;
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && activeWatcher) {
    HWND box = reinterpret_cast<HWND>(wParam);
    if (IsMessageBox(box) && !GetPropA(box, "seen")) {
      SetPropA(box, "seen", reinterpret_cast<HANDLE>(1));
      SeenBox seen{};
      seen.text = WindowText(GetDlgItem(box, kMessageTextId));
      seen.caption = WindowText(box);
      seen.owner = GetWindow(box, GW_OWNER);
      HWND icon = IconControl(box);
      HICON shown = icon ? reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) : nullptr;
      seen.anyIcon = icon && (GetWindowLongA(icon, GWL_STYLE) & WS_VISIBLE) && shown;
      seen.errorIcon = seen.anyIcon && shown == LoadIconA(nullptr, IDI_HAND);
      seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
      seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
      activeWatcher->boxes.push_back(seen);
      int answer = seen.hasOk ? IDOK : IDCANCEL;
      if (activeWatcher->answered < activeWatcher->answers.size())
        answer = activeWatcher->answers[activeWatcher->answered++];
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    }
  }
  return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

BoxWatcher::BoxWatcher(std::vector<int> givenAnswers) : answers(std::move(givenAnswers)) {
  activeWatcher = this;
  if (!hook) hook = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
  EXPECT_NE(hook, nullptr) << "could not install the message box hook";
}

BoxWatcher::~BoxWatcher() {
  if (hook) UnhookWindowsHookEx(hook);
  hook = nullptr;
  activeWatcher = nullptr;
}

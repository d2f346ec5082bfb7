// Reading the windows of another process: the updater's wizard and its
// message boxes. Texts are returned in UTF-8. Every message sent to the other
// process has a timeout, so a hung program cannot block the driver.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Control ids of the wizard.
constexpr int kNextId = 1;
constexpr int kCancelId = 2;
constexpr int kBackId = 4;
constexpr int kStatusId = 1001;
constexpr int kProgressId = 1002;

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The top-level windows of process `pid`, in Z order.
std::vector<HWND> ProcessWindows(DWORD pid);
std::string ClassOf(HWND window);
// WM_GETTEXT with a timeout; `ok` is false when the window did not answer.
std::string TextOf(HWND window, bool* ok = nullptr);

bool IsMessageBox(HWND window);
bool IsWizard(HWND window);
HWND FindWizard(DWORD pid);
// The first message box of `pid` that is not in `skip`.
HWND FindMessageBox(DWORD pid, const std::set<HWND>& skip);

struct WizardState {
  bool readable = false;  // every text was read (the program answered)
  std::string caption, status, nextText, backText, cancelText;
  bool nextOn = false, backOn = false, cancelOn = false;
  std::string focus;  // "next", "back", "cancel", "none" or "other"
  bool visible = false;
  bool foreground = false;
  std::string dpi;  // as the system tells: "96" for a program not aware of the scale
};
WizardState ReadWizard(HWND wizard);

// The DPI a window is drawn at, as the system tells (96 where it cannot).
UINT WindowDpi(HWND window);
// This program sees windows, their places and pictures in the display's
// own pixels, whatever its scale.
void UseDisplayPixels();

struct BoxState {
  bool readable = false;
  std::string caption, text;
  bool icon = false;     // an icon is shown
  std::string buttons;   // e.g. "ok" or "ok,cancel"
  HWND owner = nullptr;
};
BoxState ReadBox(HWND box);

// One line describing what is on the screen of `pid`, for failure messages.
std::string DescribeWindows(DWORD pid);

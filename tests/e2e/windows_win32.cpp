#include "tests/e2e/windows_win32.h"

namespace {

constexpr UINT kAnswerMs = 2000;      // how long another process gets to answer
constexpr int kMessageTextId = 0xFFFF;  // a message box's text control

struct EnumRequest {
  DWORD pid;
  std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* request = reinterpret_cast<EnumRequest*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == request->pid) request->windows->push_back(window);
  return TRUE;
}

// The static control that shows a message box's icon: 0x14 on Windows,
// 1088 (stc1) on Wine.
HWND IconControl(HWND box) {
  HWND icon = GetDlgItem(box, 0x14);
  return icon ? icon : GetDlgItem(box, 1088);
}

std::string FocusName(HWND wizard) {
  DWORD thread = GetWindowThreadProcessId(wizard, nullptr);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(thread, &info) || !info.hwndFocus) return "none";
  if (info.hwndFocus == GetDlgItem(wizard, kNextId)) return "next";
  if (info.hwndFocus == GetDlgItem(wizard, kBackId)) return "back";
  if (info.hwndFocus == GetDlgItem(wizard, kCancelId)) return "cancel";
  return "other";
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

std::vector<HWND> ProcessWindows(DWORD pid) {
  std::vector<HWND> windows;
  EnumRequest request{pid, &windows};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&request));
  return windows;
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return ToUtf8(name);
}

std::string TextOf(HWND window, bool* ok) {
  wchar_t text[4096] = {};
  DWORD_PTR copied = 0;
  bool answered = window && SendMessageTimeoutW(window, WM_GETTEXT, 4096,
                                                reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                                kAnswerMs, &copied) != 0;
  if (ok) *ok = answered;
  return answered ? ToUtf8(text) : std::string();
}

bool IsMessageBox(HWND window) {
  return ClassOf(window) == "#32770" && GetDlgItem(window, kMessageTextId) != nullptr;
}

bool IsWizard(HWND window) {
  return ClassOf(window) == "#32770" && GetDlgItem(window, kStatusId) != nullptr;
}

HWND FindWizard(DWORD pid) {
  for (HWND window : ProcessWindows(pid))
    if (IsWizard(window)) return window;
  return nullptr;
}

HWND FindMessageBox(DWORD pid, const std::set<HWND>& skip) {
  for (HWND window : ProcessWindows(pid))
    if (IsMessageBox(window) && !skip.count(window)) return window;
  return nullptr;
}

WizardState ReadWizard(HWND wizard) {
  WizardState state;
  bool okCaption = false, okStatus = false, okNext = false, okBack = false, okCancel = false;
  state.caption = TextOf(wizard, &okCaption);
  state.status = TextOf(GetDlgItem(wizard, kStatusId), &okStatus);
  state.nextText = TextOf(GetDlgItem(wizard, kNextId), &okNext);
  state.backText = TextOf(GetDlgItem(wizard, kBackId), &okBack);
  state.cancelText = TextOf(GetDlgItem(wizard, kCancelId), &okCancel);
  state.readable = okCaption && okStatus && okNext && okBack && okCancel;
  state.nextOn = IsWindowEnabled(GetDlgItem(wizard, kNextId));
  state.backOn = IsWindowEnabled(GetDlgItem(wizard, kBackId));
  state.cancelOn = IsWindowEnabled(GetDlgItem(wizard, kCancelId));
  state.focus = FocusName(wizard);
  state.visible = IsWindowVisible(wizard);
  state.foreground = GetForegroundWindow() == wizard;
  state.dpi = std::to_string(WindowDpi(wizard));
  return state;
}

UINT WindowDpi(HWND window) {
  FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  auto dpiForWindow = reinterpret_cast<UINT(WINAPI*)(HWND)>(reinterpret_cast<void*>(found));
  return dpiForWindow ? dpiForWindow(window) : 96;
}

void UseDisplayPixels() {
  FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDPIAware");
  if (found) reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(found))();
}

BoxState ReadBox(HWND box) {
  BoxState state;
  bool okCaption = false, okText = false;
  state.caption = TextOf(box, &okCaption);
  state.text = TextOf(GetDlgItem(box, kMessageTextId), &okText);
  state.readable = okCaption && okText;
  HWND icon = IconControl(box);
  DWORD_PTR shown = 0;
  if (icon && IsWindowVisible(icon))
    SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &shown);
  state.icon = shown != 0;
  static const struct {
    int id;
    const char* name;
  } kButtons[] = {{IDOK, "ok"},     {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
                  {IDIGNORE, "ignore"}, {IDYES, "yes"},      {IDNO, "no"}};
  for (const auto& button : kButtons) {
    HWND control = GetDlgItem(box, button.id);
    if (!control || !IsWindowVisible(control)) continue;
    if (!state.buttons.empty()) state.buttons += ",";
    state.buttons += button.name;
  }
  state.owner = GetWindow(box, GW_OWNER);
  return state;
}

std::string DescribeWindows(DWORD pid) {
  std::string text;
  for (HWND window : ProcessWindows(pid)) {
    if (!IsWindowVisible(window)) continue;
    if (!text.empty()) text += "; ";
    text += ClassOf(window) + " '" + TextOf(window) + "'";
    if (IsMessageBox(window)) text += " says '" + TextOf(GetDlgItem(window, kMessageTextId)) + "'";
    if (IsWizard(window)) text += " status '" + TextOf(GetDlgItem(window, kStatusId)) + "'";
  }
  return text.empty() ? "no visible window" : text;
}

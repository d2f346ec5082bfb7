// Stands in for a running game: one top-level window of a given class and
// title, which closes on WM_CLOSE (the driver's request) like a real one.
//
//   e2e_game.exe --class CLASS --title TITLE [--hidden]
//
// --hidden creates the window without showing it, so a test can see the
// updater show it.
#include <windows.h>

#include <string>

namespace {

LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring windowClass, title;
  bool hidden = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring option = argv[i];
    if (option == L"--class" && i + 1 < argc)
      windowClass = argv[++i];
    else if (option == L"--title" && i + 1 < argc)
      title = argv[++i];
    else if (option == L"--hidden")
      hidden = true;
    else
      return 2;
  }
  if (windowClass.empty()) return 2;

  WNDCLASSW description{};
  description.lpfnWndProc = GameWindowProc;
  description.hInstance = GetModuleHandleW(nullptr);
  description.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  description.lpszClassName = windowClass.c_str();
  if (!RegisterClassW(&description)) return 1;
  HWND window = CreateWindowW(windowClass.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, 600, 400,
                              320, 200, nullptr, nullptr, description.hInstance, nullptr);
  if (!window) return 1;
  if (!hidden) ShowWindow(window, SW_SHOW);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

#include "wizard/window_icon.h"

#include "resources/resource_ids.h"

namespace {

// The small and the big icon: their message, their size at 96 DPI, and the
// icon set now.
struct WindowIcon {
  WPARAM kind;
  int size;
  HICON icon;
};
WindowIcon icons[] = {{ICON_SMALL, 16, nullptr}, {ICON_BIG, 32, nullptr}};

}  // namespace

void SetWindowIcons(HWND window, UINT dpi) {
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (WindowIcon& icon : icons) {
    int size = MulDiv(icon.size, static_cast<int>(dpi), 96);
    auto loaded = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_GAME), IMAGE_ICON, size, size, 0));
    if (!loaded) continue;
    SendMessageW(window, WM_SETICON, icon.kind, reinterpret_cast<LPARAM>(loaded));
    if (icon.icon) DestroyIcon(icon.icon);
    icon.icon = loaded;
  }
}

void FreeWindowIcons() {
  for (WindowIcon& icon : icons) {
    if (icon.icon) DestroyIcon(icon.icon);
    icon.icon = nullptr;
  }
}

#include "wizard/window_scale.h"

#include "base/system.h"
#include "base/system_window.h"

namespace {

// The letters whose average width, with the line height, makes a font's
// dialog base units.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kDisableAll = 0x0001;  // DDC_DISABLE_ALL of SetDialogDpiChangeBehavior

struct Scale {
  HWND dialog;
  SIZE base;      // pixels per 4 horizontal and per 8 vertical dialog units
  LOGFONTW font;  // the dialog's font as the dialog manager made it
  UINT fontDpi;   // the DPI it was made for
  HFONT made;     // the font made here for another DPI, while in use
};
Scale scale{};

// Looked up once; not a function's static, whose guard would link the C++
// library's exception support into the updater.
HMODULE user32 = nullptr;

// A function of user32 that older systems lack, or null.
template <typename Function>
Function User32Function(const char* name) {
  if (!user32) user32 = SysLoadLibrary("user32.dll");
  FARPROC found = user32 ? GetProcAddress(user32, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

SIZE FontBaseUnits(HWND window, HFONT font) {
  SIZE base{0, 0};
  HDC dc = GetDC(window);
  if (!dc) return base;
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  SIZE extent{};
  if (GetTextMetricsW(dc, &metrics) && SysGetTextExtent(dc, kAlphabet, &extent))
    base = {(extent.cx / 26 + 1) / 2, metrics.tmHeight};
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return base;
}

// The dialog's font made at dpi, as the dialog manager makes it for the
// template's point size, and its base units; null when it cannot be made.
HFONT FontAt(HWND dialog, UINT dpi, SIZE& base) {
  LOGFONTW described = scale.font;
  int points = MulDiv(-scale.font.lfHeight, 72, static_cast<int>(scale.fontDpi));
  described.lfHeight = -MulDiv(points, static_cast<int>(dpi), 72);
  HFONT font = SysCreateFont(described);
  base = font ? FontBaseUnits(dialog, font) : SIZE{0, 0};
  if (font && (base.cx <= 0 || base.cy <= 0)) {
    DeleteObject(font);
    font = nullptr;
  }
  return font;
}

// Pixels placed in dialog units of base `from`, placed again in base `to`.
// The way back to dialog units is exact while a unit is a pixel or more.
RECT Rescale(const RECT& r, SIZE from, SIZE to) {
  auto x = [&](int pixels) { return MulDiv(MulDiv(pixels, 4, from.cx), to.cx, 4); };
  auto y = [&](int pixels) { return MulDiv(MulDiv(pixels, 8, from.cy), to.cy, 8); };
  int left = x(r.left), top = y(r.top);
  return {left, top, left + x(r.right - r.left), top + y(r.bottom - r.top)};
}

// Sizes the window so that its client area is client: with its frame as it
// is first, then once more by what the frame at the window's scale now
// takes (the system measures it anew when the window changes size).
void SetClientSize(HWND window, POINT at, SIZE client) {
  RECT outer, inner;
  GetWindowRect(window, &outer);
  GetClientRect(window, &inner);
  int width = client.cx + (outer.right - outer.left) - inner.right;
  int height = client.cy + (outer.bottom - outer.top) - inner.bottom;
  SetWindowPos(window, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  GetClientRect(window, &inner);
  if (inner.right != client.cx || inner.bottom != client.cy)
    SetWindowPos(window, nullptr, 0, 0, width + client.cx - inner.right,
                 height + client.cy - inner.bottom, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

}  // namespace

UINT WindowDpi(HWND window) {
  using ForWindow = UINT(WINAPI*)(HWND);
  if (auto forWindow = User32Function<ForWindow>("GetDpiForWindow"))
    if (UINT dpi = forWindow(window)) return dpi;
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void InitWindowScale(HWND dialog) {
  EndWindowScale();
  scale = {};
  RECT units{0, 0, 4, 8};
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (!MapDialogRect(dialog, &units) || !font ||
      !GetObjectW(font, sizeof scale.font, &scale.font) || scale.font.lfHeight >= 0)
    return;
  scale.dialog = dialog;
  scale.base = {units.right, units.bottom};
  scale.fontDpi = WindowDpi(dialog);
  using DialogBehavior = BOOL(WINAPI*)(HWND, int, int);
  if (auto behavior = User32Function<DialogBehavior>("SetDialogDpiChangeBehavior"))
    behavior(dialog, kDisableAll, kDisableAll);
}

void ScaleWindow(HWND dialog, UINT dpi, const RECT& suggested) {
  if (dialog != scale.dialog || dpi == 0) return;
  SIZE base;
  HFONT font = FontAt(dialog, dpi, base);
  if (!font) return;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    place = Rescale(place, scale.base, base);
    SetWindowPos(child, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  RECT client;
  GetClientRect(dialog, &client);
  client = Rescale(client, scale.base, base);
  SetClientSize(dialog, {suggested.left, suggested.top}, {client.right, client.bottom});
  if (scale.made) DeleteObject(scale.made);
  scale.made = font;
  scale.base = base;
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

bool ScaledWindowSize(HWND dialog, UINT dpi, SIZE& size) {
  if (dialog != scale.dialog || dpi == 0) return false;
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  auto adjust = User32Function<AdjustForDpi>("AdjustWindowRectExForDpi");
  SIZE base;
  HFONT font = adjust ? FontAt(dialog, dpi, base) : nullptr;
  if (!font) return false;
  DeleteObject(font);
  RECT client;
  GetClientRect(dialog, &client);
  RECT outer = Rescale(client, scale.base, base);
  if (!adjust(&outer, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
              static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)), dpi))
    return false;
  size = {outer.right - outer.left, outer.bottom - outer.top};
  return true;
}

RECT DialogUnitsToPixels(HWND dialog, int x, int y, int width, int height) {
  if (dialog != scale.dialog) {
    RECT area{x, y, x + width, y + height};
    MapDialogRect(dialog, &area);
    return area;
  }
  int left = MulDiv(x, scale.base.cx, 4), top = MulDiv(y, scale.base.cy, 8);
  return {left, top, left + MulDiv(width, scale.base.cx, 4),
          top + MulDiv(height, scale.base.cy, 8)};
}

void EndWindowScale() {
  if (scale.made) DeleteObject(scale.made);
  scale = {};
}

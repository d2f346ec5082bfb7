// The wizard at the scale of the display it is on. The dialog manager makes
// the dialog at the scale of the display it opens on: its font at that DPI,
// the controls placed in dialog units of that font. When the window moves
// to a monitor of another scale (WM_DPICHANGED) this does the same again: a
// font at the new DPI, every control placed by its dialog units in that
// font, and a client area of as many dialog units as before. The system's
// own scaling of dialogs (Windows 10 1703 and later) is switched off for
// the wizard, so that every system takes this one path.
#pragma once

#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

// The DPI the window is drawn at: its monitor's where the system tells,
// else the system's.
UINT WindowDpi(HWND window);

// Takes the dialog as the dialog manager made it (at WM_INITDIALOG).
void InitWindowScale(HWND dialog);
// WM_DPICHANGED: the dialog drawn at dpi, its top-left corner where the
// system suggests.
void ScaleWindow(HWND dialog, UINT dpi, const RECT& suggested);
// WM_GETDPISCALEDSIZE: the window's size at dpi as ScaleWindow will make it
// (the system then places the window by that size while it is dragged
// across monitors); false where it cannot be told.
bool ScaledWindowSize(HWND dialog, UINT dpi, SIZE& size);
// A control's place in dialog units (left, top, width, height) in pixels of
// the dialog's font now, rounded as the dialog manager rounds.
RECT DialogUnitsToPixels(HWND dialog, int x, int y, int width, int height);
// Frees the font made for another DPI (at WM_DESTROY).
void EndWindowScale();

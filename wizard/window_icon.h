// The game's icon on the wizard's title bar and taskbar button, when the
// updater carries one (the icon group IDI_GAME that make-updater --icon
// writes): the small and the big icon, each taken from the group at the
// size the window's scale asks for. Without the group the window keeps the
// system's icon.
#pragma once

#include <windows.h>

// Sets the icons for dpi (again after a change of scale).
void SetWindowIcons(HWND window, UINT dpi);
// Frees the icons (at WM_DESTROY).
void FreeWindowIcons();

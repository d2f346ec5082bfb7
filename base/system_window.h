// The window calls of the wizard's scaling that take text, beside the
// others of base/system.h: measuring a text in a font, and making a font
// from a description read back from the system (its face in UTF-16, as in
// a dialog template).
#pragma once

#include <windows.h>

// The size of text (code page 932) drawn with the font selected into dc.
BOOL SysGetTextExtent(HDC dc, const char* text, SIZE* size);
HFONT SysCreateFont(const LOGFONTW& font);

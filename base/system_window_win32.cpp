#include "base/system_window.h"

namespace {

constexpr int kWideCapacity = 256;  // measured texts are short labels

}  // namespace

BOOL SysGetTextExtent(HDC dc, const char* text, SIZE* size) {
  wchar_t wide[kWideCapacity];
  int length = MultiByteToWideChar(932, 0, text, -1, wide, kWideCapacity);
  return length > 0 && GetTextExtentPoint32W(dc, wide, length - 1, size);
}

HFONT SysCreateFont(const LOGFONTW& font) { return CreateFontIndirectW(&font); }

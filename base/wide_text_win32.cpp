#include "base/wide_text_win32.h"

#include <cstring>

int ToCodePage932(const wchar_t* wide, int count, char* text, size_t capacity) {
  if (capacity == 0) return 0;
  BOOL substituted = FALSE;
  int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, count, text,
                              static_cast<int>(capacity), nullptr, &substituted);
  if (n == 0 || substituted) {
    text[0] = '\0';
    return 0;
  }
  // The way back must give the same characters: the proof that nothing was
  // replaced by a look-alike.
  wchar_t back[kWideCapacity];
  int m = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, text, n, back, kWideCapacity);
  int length = count < 0 ? lstrlenW(wide) + 1 : count;
  if (m != length || memcmp(back, wide, length * sizeof(wchar_t)) != 0) {
    text[0] = '\0';
    return 0;
  }
  return n;
}

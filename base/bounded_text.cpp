#include "base/bounded_text.h"

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

size_t WholeCharacters(const char* text, size_t limit) {
  size_t i = 0;
  while (i < limit) {
    size_t step = IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) return false;
  size_t n = TextLength(src);
  bool fits = n < capacity;
  if (!fits) n = WholeCharacters(src, capacity - 1);
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = '\0';
  return fits;
}

bool AppendText(char* dst, size_t capacity, const char* src) {
  size_t used = 0;
  while (used < capacity && dst[used]) ++used;
  if (used == capacity) return false;
  return CopyText(dst + used, capacity - used, src);
}

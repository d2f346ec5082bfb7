#include "base/bounded_text.h"

namespace {

// Largest n <= limit such that src[0..n) does not end inside a double-byte
// character.
size_t CutAtCharacter(const char* src, size_t limit) {
  size_t i = 0;
  while (i < limit && src[i]) {
    size_t step = IsCp932LeadByte(static_cast<unsigned char>(src[i])) && src[i + 1] ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return i;
}

}  // namespace

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) return false;
  size_t n = TextLength(src);
  bool fits = n < capacity;
  if (!fits) n = CutAtCharacter(src, capacity - 1);
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

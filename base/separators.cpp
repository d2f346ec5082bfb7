#include "base/separators.h"

namespace {

bool IsSeparator(unsigned char c, size_t index, unsigned separators) {
  return (c == '\\' && (separators & kBackslash)) || (c == '/' && (separators & kSlash)) ||
         (c == ':' && ((separators & kColon) || (index == 1 && (separators & kDriveColon))));
}

}  // namespace

size_t LastSeparator(const char* text, size_t length, unsigned separators,
                     bool (*isLeadByte)(unsigned char)) {
  size_t last = kNoSeparator;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (isLeadByte(c) && i + 1 < length) {
      ++i;
      continue;
    }
    if (IsSeparator(c, i, separators)) last = i;
  }
  return last;
}

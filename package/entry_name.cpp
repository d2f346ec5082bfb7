#include "package/entry_name.h"

#include <cstdint>

#include "base/bounded_text.h"
#include "base/separators.h"
#include "package/fa2_format.h"

namespace {

// The upper-case form of the double-byte character with this code.
uint32_t FoldDoubleByte(uint32_t code) {
  if (code >= 0x8281 && code <= 0x829A) return code - 0x21;    // full-width a-z
  if (code >= 0x83BF && code <= 0x83D6) return code - 0x20;    // Greek
  if (code >= 0x8470 && code <= 0x847E) return code - 0x30;    // Cyrillic а-н
  if (code >= 0x8480 && code <= 0x8491) return code - 0x31;    // Cyrillic о-я
  // Roman numerals: the lower case lies in the two IBM extensions only, so
  // both cases of each extension fold to the upper case of row 13.
  if (code >= 0xEEEF && code <= 0xEEF8) return code - 0xEEEF + 0x8754;
  if (code >= 0xFA40 && code <= 0xFA49) return code - 0xFA40 + 0x8754;
  if (code >= 0xFA4A && code <= 0xFA53) return code - 0xFA4A + 0x8754;
  return code;
}

// The next character of p, folded; p moves past it. 0 at the end.
uint32_t NextFolded(const char*& p) {
  unsigned char c = static_cast<unsigned char>(*p);
  if (c == 0) return 0;
  ++p;
  if (IsCp932LeadByte(c) && *p != '\0') {
    uint32_t code = uint32_t{c} << 8 | static_cast<unsigned char>(*p++);
    return FoldDoubleByte(code);
  }
  return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

}  // namespace

bool SameEntryName(const char* a, const char* b) {
  for (;;) {
    uint32_t x = NextFolded(a), y = NextFolded(b);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

std::string EntryNameProblem(const std::string& name) {
  if (name.empty()) return "empty entry name";
  if (name.size() > kEntryNameMax)
    return "entry name is " + std::to_string(name.size()) + " bytes in code page 932; at most " +
           std::to_string(kEntryNameMax) + " fit";
  if (name.find('\0') != std::string::npos) return "entry name contains a NUL byte";
  // No folder or drive part in any form the system reads as one, and no
  // colon anywhere (a file's named stream).
  if (name == "." || name == ".." ||
      LastSeparator(name.data(), name.size(), kBackslash | kSlash | kColon) != kNoSeparator)
    return "entry name is not a plain file name";
  if (WholeCharacters(name.data(), name.size()) != name.size())
    return "entry name ends in half a double-byte character";
  return "";
}

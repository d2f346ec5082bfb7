// Finding path separators in text whose double-byte characters may have a
// backslash (0x5C) as their second byte. Every walk over a path or a name
// that looks for separators goes through LastSeparator, and each caller says
// which bytes separate for it.
#pragma once

#include <cstddef>

#include "base/bounded_text.h"

// Bytes that may separate, combined with |.
enum SeparatorSet : unsigned {
  kBackslash = 1,
  kSlash = 2,
  kColon = 4,       // a colon anywhere
  kDriveColon = 8,  // a colon as the second byte only, behind a drive letter
};

constexpr size_t kNoSeparator = static_cast<size_t>(-1);

// Walks text[0..length) by characters (a lead byte takes the byte after it
// along while there is one) and returns the index of the last character that
// is one of separators, or kNoSeparator. isLeadByte is code page 932's rule
// unless the text comes from the system in its own code page.
size_t LastSeparator(const char* text, size_t length, unsigned separators,
                     bool (*isLeadByte)(unsigned char) = IsCp932LeadByte);

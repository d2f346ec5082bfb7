#include <gtest/gtest.h>

#include <cstring>

#include "base/separators.h"

TEST(LastSeparator, OnlyTheCallersSetAtCharacterStarts) {
  struct Case {
    const char* text;
    unsigned separators;
    size_t last;
  } cases[] = {
      {"", kBackslash | kSlash | kColon, kNoSeparator},
      {"A\\B/C", kBackslash, 1},
      {"A\\B/C", kBackslash | kSlash, 3},
      {"C:NAME", kBackslash | kSlash, kNoSeparator},
      {"C:NAME", kDriveColon, 1},
      {"AB:NAME", kDriveColon, kNoSeparator},  // a drive's colon is the second byte
      {"AB:NAME", kColon, 2},
      // 表 is 0x95 0x5C: its second byte is no backslash, at the end or not.
      {"A\\表", kBackslash, 1},
      {"表\\", kBackslash, 2},
      {"\x95:", kDriveColon | kColon, kNoSeparator},
      // A lead byte at the very end stands alone; what precedes it still counts.
      {"A\\\x95", kBackslash, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LastSeparator(c.text, std::strlen(c.text), c.separators), c.last) << c.text;
}

TEST(LastSeparator, TakesTheLeadByteRuleOfTheText) {
  // Under a rule without double-byte characters, 0x95 0x5C ends in a backslash.
  auto singleBytes = [](unsigned char) { return false; };
  EXPECT_EQ(LastSeparator("A\\表", 4, kBackslash, singleBytes), 3u);
}

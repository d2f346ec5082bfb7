// Entry names: sameness without regard to letter case, by characters.
#include "package/entry_name.h"

#include <gtest/gtest.h>

TEST(SameEntryName, LetterCaseIsIgnoredInBothHalvesOfCodePage932) {
  const char* same[][2] = {
      {"update.ini", "UPDATE.INI"},
      {"Game.Dat", "gAME.dAT"},
      {"ａｂｃ.TXT", "ＡＢＣ.txt"},        // full-width Latin
      {"αβω", "ΑΒΩ"},                     // Greek
      {"абвнопя", "АБВНОПЯ"},             // Cyrillic, both sides of the gap at 847F
      {"ёЁ", "Ёё"},
      {"\xFA\x40", "\x87\x54"},           // Roman numeral one, IBM lower and row 13 upper
      {"\xEE\xEF", "\xFA\x4A"},           // NEC-selected lower and IBM upper
      {"表ソ能.DAT", "表ソ能.dat"},
      {"", ""},
  };
  for (auto& pair : same) {
    EXPECT_TRUE(SameEntryName(pair[0], pair[1])) << pair[0];
    EXPECT_TRUE(SameEntryName(pair[1], pair[0])) << pair[0];
  }
}

TEST(SameEntryName, OnlyLettersFoldAndSecondBytesNeverDo) {
  const char* different[][2] = {
      {"ア", "ャ"},            // 83 41 and 83 61: second bytes 'A' and 'a'
      {"ソ", "\x83\x7C"},      // 83 5C and 83 7C: second bytes '\' and '|'
      {"a", "ａ"},             // width is not case
      {"あ", "ア"},            // nor is hiragana against katakana
      {"UPDATE.INI", "UPDATE.IN"},
      {"UPDATE.IN", "UPDATE.INI"},
      {"A\x83", "A"},          // half a character at the end is a byte of its own
      {"A\x83", "A\x83" "A"},
      {"[", "{"},              // 5B and 7B are no letters
      {"@", "`"},
  };
  for (auto& pair : different) {
    EXPECT_FALSE(SameEntryName(pair[0], pair[1])) << pair[0];
    EXPECT_FALSE(SameEntryName(pair[1], pair[0])) << pair[0];
  }
  EXPECT_TRUE(SameEntryName("A\x83", "a\x83"));
}

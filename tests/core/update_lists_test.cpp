// The update run's decisions: list values with their install-mode and disc
// prefixes, the package entry name, the two lists of a script, and the
// free-space shortage with its text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "config/tokenizer.h"
#include "config/update_items.h"

TEST(UpdateValues, ModePrefixAndEntryName) {
  struct Case {
    const char* value;
    uint32_t mode;
    bool belongs;
    const char* path;
    const char* entry;
  };
  const Case cases[] = {
      {"1,DATA\\A.DAT", 0, false, "untouched", "untouched"},
      {"1,DATA\\A.DAT", 1, true, "DATA\\A.DAT", "A.DAT"},
      {"1,A.DAT", 1, true, "A.DAT", "A.DAT"},  // no byte of the name lost to the prefix
      {"DATA\\A.DAT", 7, true, "DATA\\A.DAT", "A.DAT"},  // no prefix: every mode
      {"12,A.DAT", 1, true, "12,A.DAT", "12,A.DAT"},  // only a single byte is a mode
      {"A,B.DAT", 17, true, "B.DAT", "B.DAT"},      // the byte minus '0', whatever it is
      {"1,", 1, true, "", ""},
      {"1", 1, true, "1", "1"},
      // 表 is 0x95 0x5C in code page 932: its second byte is no separator.
      {"DATA\\表.DAT", 0, true, "DATA\\表.DAT", "表.DAT"},
      {"表\\A.DAT", 0, true, "表\\A.DAT", "A.DAT"},
      {"表", 0, true, "表", "表"},
      {"A\\B\\C.DAT", 0, true, "A\\B\\C.DAT", "C.DAT"},
      {"DATA/A.DAT", 0, true, "DATA/A.DAT", "DATA/A.DAT"},  // a slash is no separator
      {"DATA\\", 0, true, "DATA\\", ""},
      {"A\\B\x95", 0, true, "A\\B\x95", "B\x95"},  // a lead byte at the end is not read past
  };
  for (const Case& c : cases) {
    UpdateItem item{};
    std::strcpy(item.path, "untouched");
    EXPECT_EQ(ParseUpdateValue(c.value, c.mode, item), c.belongs) << c.value;
    EXPECT_STREQ(item.path, c.path) << c.value;
    EXPECT_STREQ(item.path + item.nameOffset, c.entry) << c.value;
  }
}

TEST(CopyValues, ModeThenDiscPrefix) {
  struct Case {
    const char* value;
    uint32_t mode;
    bool belongs;
    int32_t disc;
    const char* path;
  };
  const Case cases[] = {
      {"1,2:MOVIE\\OP.MPG", 1, true, 2, "MOVIE\\OP.MPG"},
      {"1,2:MOVIE\\OP.MPG", 0, false, -99, "untouched"},
      {"2:MOVIE", 5, true, 2, "MOVIE"},
      {"MOVIE", 0, true, 0, "MOVIE"},
      {"0:MOVIE", 0, true, 0, "MOVIE"},  // a written-out disc 0 is no disc, but is taken off
      {"9:X", 0, true, 9, "X"},
      // A non-digit before the colon is no disc number, which the run
      // refuses rather than looking up a disc check file with it.
      {"A:MOVIE", 0, true, kNotADiscNumber, "MOVIE"},
      {"/:MOVIE", 0, true, kNotADiscNumber, "MOVIE"},
      {"\x82:X", 0, true, kNotADiscNumber, "X"},
      {"12:X", 0, true, 0, "12:X"},  // only a single byte is a disc
      {"2,:X", 2, true, 0, ":X"},
  };
  for (const Case& c : cases) {
    CopyItem item{};
    item.disc = -99;
    std::strcpy(item.path, "untouched");
    EXPECT_EQ(ParseCopyValue(c.value, c.mode, item), c.belongs) << c.value;
    EXPECT_EQ(item.disc, c.disc) << c.value;
    EXPECT_STREQ(item.path, c.path) << c.value;
  }
}

namespace {

using Script = std::map<std::string, std::string>;

bool ReadFromScript(void* context, const char* key, char* value, size_t capacity) {
  const Script& script = *static_cast<const Script*>(context);
  auto found = script.find(key);
  if (found == script.end() || found->second.empty()) return false;
  CopyText(value, capacity, found->second.c_str());
  return true;
}

}  // namespace

TEST(UpdateLists, EachListEndsAtItsFirstMissingKey) {
  struct Case {
    Script script;
    uint32_t mode;
    std::string updates;  // the paths, separated by '|'
    std::string copies;   // disc and path of each, separated by '|'
    bool anyUpdateKey, anyCopyKey;
  };
  Script full;
  for (int n = 0; n <= 16; ++n) {
    char key[16], value[8];
    std::snprintf(key, sizeof key, "UpdateFile%02i", n);
    std::snprintf(value, sizeof value, "F%i", n);
    full[key] = value;
  }
  const Case cases[] = {
      {{}, 0, "", "", false, false},
      {{{"UpdateFile01", "B"}, {"CopyFile01", "C"}}, 0, "", "", false, false},  // no key 00
      {{{"UpdateFile00", "A"}, {"UpdateFile01", ""}, {"UpdateFile02", "C"}}, 0, "A", "", true, false},
      // Another mode's items are skipped and the keys after them still read.
      {{{"UpdateFile00", "1,A"}, {"UpdateFile01", "B"}, {"CopyFile00", "1,2:M"}}, 0, "B", "", true,
       true},
      {{{"UpdateFile00", "1,A"}, {"CopyFile00", "1,2:M"}, {"CopyFile01", "N"}}, 1, "A", "2M|0N",
       true, true},
      {full, 0, "F0|F1|F2|F3|F4|F5|F6|F7|F8|F9|F10|F11|F12|F13|F14|F15", "", true, false},
  };
  for (const Case& c : cases) {
    UpdateLists lists;
    std::memset(&lists, 0x55, sizeof lists);  // nothing of an earlier run survives
    ReadUpdateLists(ReadFromScript, const_cast<Script*>(&c.script), c.mode, lists);
    std::string updates, copies;
    for (int i = 0; i < lists.updateCount; ++i) {
      if (i) updates += '|';
      updates += lists.updates[i].path;
    }
    for (int i = 0; i < lists.copyCount; ++i) {
      if (i) copies += '|';
      copies += std::to_string(lists.copies[i].disc);
      copies += lists.copies[i].path;
    }
    EXPECT_EQ(updates, c.updates) << c.updates;
    EXPECT_EQ(copies, c.copies) << c.copies;
    EXPECT_EQ(lists.anyUpdateKey, c.anyUpdateKey) << c.updates;
    EXPECT_EQ(lists.anyCopyKey, c.anyCopyKey) << c.copies;
  }
}

TEST(SpaceShortfall, EqualIsEnoughAndLargeFiguresAreExact) {
  struct Case {
    uint32_t required;
    uint64_t available;
    uint32_t shortfall;
  } cases[] = {
      {1000, 1000, 0},
      {1001, 1000, 1},
      {1000, 0, 1000},
      {0xFFFFFFFFu, 0, 0xFFFFFFFFu},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0},
      // 4 GiB or more available is always enough: the count is 32 bits.
      {0xFFFFFFFFu, uint64_t{1} << 32, 0},
      {1, uint64_t{5} << 32, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SpaceShortfall(c.required, c.available), c.shortfall) << c.required << " " << c.available;
}

TEST(ShortageText, NamesTheDriveAndTheUnsignedShortfall) {
  char text[kTextCapacity];
  FormatShortageText(text, "d:", 1, true);
  EXPECT_STREQ(text, "ディスク容量が足りません。\rd: ドライブに 1 バイトの空き容量が必要です");
  // A shortfall of 2^31 or more must not turn negative in the text.
  FormatShortageText(text, "C:", 4294967290u, false);
  EXPECT_STREQ(text, "ディスク容量が足りません。C: ドライブに 4294967290 バイトの空き容量が必要です");
}

TEST(PathDrive, OnlyAnAsciiLetterAndAColon) {
  char drive[3] = "x";
  ASSERT_TRUE(PathDrive("d:\\Game", drive));
  EXPECT_STREQ(drive, "d:");
  for (const char* path : {"\\\\server\\share\\Game", "Game", "", "1:\\Game", "表:\\Game", "@:", "[:"})
    EXPECT_FALSE(PathDrive(path, drive)) << path;
}

// The update run's reading of list values (install-mode and disc prefixes,
// the package entry's name) and its free-space check.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/support/extraction_fakes_win32.h"
#include "wizard/update_run.h"

namespace {

struct Parsed {
  bool belongs;
  std::string path;
  std::string entry;  // the update item's package entry name
};

Parsed ParseUpdate(const char* value, uint32_t mode) {
  UpdateItem item{};
  std::strcpy(item.path, "untouched");
  bool belongs = ParseUpdateValue(value, mode, item);
  return {belongs, item.path, item.path + item.nameOffset};
}

}  // namespace

TEST(UpdateValues, ModePrefixSelectsTheInstallMode) {
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
      {"0,A.DAT", 0, true, "A.DAT", "A.DAT"},
      {"12,A.DAT", 1, true, "12,A.DAT", "12,A.DAT"},  // only a single byte is a mode
      {"A,B.DAT", 17, true, "B.DAT", "B.DAT"},      // the byte minus '0', whatever it is
      {"1,", 1, true, "", ""},
      {"1", 1, true, "1", "1"},
  };
  for (const Case& c : cases) {
    Parsed p = ParseUpdate(c.value, c.mode);
    EXPECT_EQ(p.belongs, c.belongs) << c.value;
    EXPECT_EQ(p.path, c.path) << c.value;
    EXPECT_EQ(p.entry, c.entry) << c.value;
  }
}

TEST(UpdateValues, EntryNameStartsBehindTheLastRealBackslash) {
  // 表 is 0x95 0x5C in code page 932: its second byte is no separator.
  EXPECT_EQ(ParseUpdate("DATA\\表.DAT", 0).entry, "表.DAT");
  EXPECT_EQ(ParseUpdate("表\\A.DAT", 0).entry, "A.DAT");
  EXPECT_EQ(ParseUpdate("表", 0).entry, "表");
  EXPECT_EQ(ParseUpdate("A\\B\\C.DAT", 0).entry, "C.DAT");
  EXPECT_EQ(ParseUpdate("DATA/A.DAT", 0).entry, "DATA/A.DAT");  // a slash is no separator
  EXPECT_EQ(ParseUpdate("DATA\\", 0).entry, "");
  // A lead byte at the very end is not read past.
  EXPECT_EQ(NameOffset("A\\B\x95"), 2u);
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
      // A non-digit before the colon gives a number outside 0 to 9, which the
      // run refuses rather than looking up a disc check file with it.
      {"A:MOVIE", 0, true, 17, "MOVIE"},
      {"/:MOVIE", 0, true, -1, "MOVIE"},
      {"\x82:X", 0, true, 0x82 - '0', "X"},
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

TEST(SpaceShortfall, EqualIsEnoughAndLargeFiguresAreExact) {
  EXPECT_EQ(SpaceShortfall(1000, 1000), 0u);
  EXPECT_EQ(SpaceShortfall(1001, 1000), 1u);
  EXPECT_EQ(SpaceShortfall(1000, 0), 1000u);
  EXPECT_EQ(SpaceShortfall(0xFFFFFFFFu, 0), 0xFFFFFFFFu);
  EXPECT_EQ(SpaceShortfall(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
  // 4 GiB or more available is always enough: the count is 32 bits.
  EXPECT_EQ(SpaceShortfall(0xFFFFFFFFu, uint64_t{1} << 32), 0u);
  EXPECT_EQ(SpaceShortfall(1, uint64_t{5} << 32), 0u);
}

namespace {

struct DiskSpaceCheck : ::testing::Test {
  char text[kTextCapacity];
  void SetUp() override {
    ResetExtractionFakes();
    std::strcpy(text, "untouched");
  }
  void TearDown() override { ResetExtractionFakes(); }
};

}  // namespace

TEST_F(DiskSpaceCheck, ShortageTextNamesTheDriveAndTheShortfall) {
  FakeAvailableSpace(1000);
  EXPECT_FALSE(CheckDiskSpace(1000, "C:\\Game", text));
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(extractionFakes.lastRoot, "C:");

  ASSERT_TRUE(CheckDiskSpace(1001, "d:\\Game", text));
  EXPECT_STREQ(text, "ディスク容量が足りません。\rd: ドライブに 1 バイトの空き容量が必要です");
}

TEST_F(DiskSpaceCheck, ShortfallIsPrintedUnsigned) {
  // A shortfall of 2^31 or more must not turn negative in the text.
  FakeAvailableSpace(5);
  ASSERT_TRUE(CheckDiskSpace(0xFFFFFFFFu, "C:\\Game", text));
  EXPECT_STREQ(text, "ディスク容量が足りません。\rC: ドライブに 4294967290 バイトの空き容量が必要です");
  FakeAvailableSpace(0);
  ASSERT_TRUE(CheckDiskSpace(3000000000u, "C:\\Game", text));
  EXPECT_STREQ(text, "ディスク容量が足りません。\rC: ドライブに 3000000000 バイトの空き容量が必要です");
}

TEST_F(DiskSpaceCheck, FourGibibytesAvailableAreAlwaysEnough) {
  FakeAvailableSpace(uint64_t{1} << 32);
  EXPECT_FALSE(CheckDiskSpace(0xFFFFFFFFu, "C:\\Game", text));
  FakeAvailableSpace(uint64_t{300} << 32);
  EXPECT_FALSE(CheckDiskSpace(0xFFFFFFFFu, "C:\\Game", text));
}

TEST_F(DiskSpaceCheck, SkippedWithoutARequirementOrAFreeSpaceFigure) {
  FakeAvailableSpace(0);
  EXPECT_FALSE(CheckDiskSpace(0, "C:\\Game", text));
  EXPECT_EQ(extractionFakes.freeSpaceQueries, 0);
  // No drive letter and colon to ask about: no figure, no check.
  for (const char* path : {"\\\\server\\share\\Game", "Game", "", "1:\\Game", "表:\\Game"}) {
    EXPECT_FALSE(CheckDiskSpace(100, path, text)) << path;
  }
  EXPECT_EQ(extractionFakes.freeSpaceQueries, 0);
  // Both queries fail: the check is skipped, not reported as a shortage.
  FailBothFreeSpaceQueries();
  EXPECT_FALSE(CheckDiskSpace(100, "C:\\Game", text));
  EXPECT_STREQ(text, "untouched");
}

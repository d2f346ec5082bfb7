// The update run's free-space check over the system's figures.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/support/extraction_fakes_win32.h"
#include "wizard/update_run.h"

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

TEST_F(DiskSpaceCheck, SkippedWithoutARequirementOrAFreeSpaceFigure) {
  FakeAvailableSpace(0);
  EXPECT_FALSE(CheckDiskSpace(0, "C:\\Game", text));
  EXPECT_EQ(extractionFakes.freeSpaceQueries, 0);
  // No drive letter and colon to ask about: no figure, no check.
  EXPECT_FALSE(CheckDiskSpace(100, "\\\\server\\share\\Game", text));
  EXPECT_EQ(extractionFakes.freeSpaceQueries, 0);
  // Both queries fail: the check is skipped, not reported as a shortage.
  FailBothFreeSpaceQueries();
  EXPECT_FALSE(CheckDiskSpace(100, "C:\\Game", text));
  EXPECT_STREQ(text, "untouched");
}

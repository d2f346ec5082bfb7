// The update run's free-space check over the system's figures.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "package/extract_entry.h"
#include "wizard/update_run.h"

namespace {

uint64_t fakeAvailable = 0;
int fakeQueries = 0;
std::string queriedRoot;
int FakeFreeSpaceEx(const char* root, uint64_t* available, uint64_t* total, uint64_t* free) {
  ++fakeQueries;
  queriedRoot = root;
  *available = *total = fakeAvailable;
  if (free) *free = fakeAvailable;
  return 1;
}
int FailingFreeSpaceEx(const char*, uint64_t*, uint64_t*, uint64_t*) { return 0; }
int FailingFreeSpace(const char*, uint32_t*, uint32_t*, uint32_t*, uint32_t*) { return 0; }

struct DiskSpaceCheck : ::testing::Test {
  char text[kTextCapacity];
  void SetUp() override {
    ResetExtractionCalls();
    extractionCalls.diskFreeSpaceEx = FakeFreeSpaceEx;
    fakeQueries = 0;
    std::strcpy(text, "untouched");
  }
  void TearDown() override { ResetExtractionCalls(); }
};

}  // namespace

TEST_F(DiskSpaceCheck, ShortageTextNamesTheDriveAndTheShortfall) {
  fakeAvailable = 1000;
  EXPECT_FALSE(CheckDiskSpace(1000, "C:\\Game", text));
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(queriedRoot, "C:");

  ASSERT_TRUE(CheckDiskSpace(1001, "d:\\Game", text));
  EXPECT_STREQ(text, "ディスク容量が足りません。\rd: ドライブに 1 バイトの空き容量が必要です");
}

TEST_F(DiskSpaceCheck, SkippedWithoutARequirementOrAFreeSpaceFigure) {
  fakeAvailable = 0;
  EXPECT_FALSE(CheckDiskSpace(0, "C:\\Game", text));
  EXPECT_EQ(fakeQueries, 0);
  // No drive letter and colon to ask about: no figure, no check.
  EXPECT_FALSE(CheckDiskSpace(100, "\\\\server\\share\\Game", text));
  EXPECT_EQ(fakeQueries, 0);
  // Both queries fail: the check is skipped, not reported as a shortage.
  extractionCalls.diskFreeSpaceEx = FailingFreeSpaceEx;
  extractionCalls.diskFreeSpace = FailingFreeSpace;
  EXPECT_FALSE(CheckDiskSpace(100, "C:\\Game", text));
  EXPECT_STREQ(text, "untouched");
}

// Start-up pieces that the whole program cannot show well: registry values
// that are not terminated, resource lookup and the clean-up.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/run_updater.h"
#include "app/updater_state.h"
#include "base/system.h"
#include "package/block.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/test_files.h"

namespace {

struct RegistryText : ::testing::Test {
  std::string path = "Software\\FA2UpdaterTest\\" + std::to_string(GetCurrentProcessId());
  HKEY key = nullptr;
  char buffer[kPathCapacity];

  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }
  void Store(const char* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  bool Query(const char* name) {
    std::memset(buffer, 'X', sizeof buffer);
    return SysRegQueryText(key, name, buffer, sizeof buffer);
  }
  bool Terminated() { return std::memchr(buffer, '\0', sizeof buffer) != nullptr; }
};

}  // namespace

TEST_F(RegistryText, AlwaysEndsInsideTheBuffer) {
  Store("Text", REG_SZ, std::string("C:\\Game", 8));
  ASSERT_TRUE(Query("Text"));
  EXPECT_STREQ(buffer, "C:\\Game");

  // Stored without a terminator, as any program may store it.
  Store("Bare", REG_BINARY, "C:\\Ga");
  ASSERT_TRUE(Query("Bare"));
  EXPECT_STREQ(buffer, "C:\\Ga");

  // Exactly the buffer's size and no NUL: the last byte gives way.
  Store("Full", REG_BINARY, std::string(kPathCapacity, 'A'));
  ASSERT_TRUE(Query("Full"));
  EXPECT_EQ(std::string(buffer), std::string(kPathCapacity - 1, 'A'));

  Store("Number", REG_DWORD, std::string("\x01\x02\x03\x04", 4));
  ASSERT_TRUE(Query("Number"));
  EXPECT_TRUE(Terminated());

  // Too long for the buffer, or missing: not found, and still terminated.
  Store("Long", REG_BINARY, std::string(kPathCapacity + 1, 'A'));
  EXPECT_FALSE(Query("Long"));
  EXPECT_TRUE(Terminated());
  EXPECT_FALSE(Query("Missing"));
  EXPECT_TRUE(Terminated());
}

TEST(StartUp, NoPackageResourceIsReportedAndCleanedUp) {
  ResetUpdaterState();
  uint32_t size = 7;
  EXPECT_EQ(FindPackageResource(GetModuleHandleA(nullptr), 102, "UPDATE", &size), nullptr);
  EXPECT_EQ(size, 7u);
  BoxWatcher watcher;
  EXPECT_EQ(RunUpdater(GetModuleHandleA(nullptr)), 0);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, "UPDATE.FA2 not found");
  EXPECT_EQ(watcher.boxes[0].caption, "UPDATE");
  EXPECT_EQ(watcher.boxes[0].owner, nullptr);
  ResetUpdaterState();
}

TEST(StartUp, CleanUpFreesThePackageAndDeletesTheScript) {
  ResetUpdaterState();
  CleanUp();  // nothing yet, and an empty path: no harm
  std::string ini = MakeScratchFolder("cleanup") + "\\UPDATE.INI";
  ASSERT_TRUE(WriteWholeFile(ini, std::string("[SETUP]\r\n")));
  CopyText(updaterState.tempIniPath, ini.c_str());
  updaterState.package = static_cast<UpdatePackage*>(AllocBlock(64));
  updaterState.entries = updaterState.package->entries;
  CleanUp();
  EXPECT_EQ(updaterState.package, nullptr);
  EXPECT_EQ(updaterState.entries, nullptr);
  EXPECT_FALSE(FileExists(ini));
  ResetUpdaterState();
}

// Start-up: registry values that are not terminated, resource lookup, the
// clean-up, and paths too long to join. The whole start-up runs in this
// process on a copy of the stub (updater.exe) given a package with
// UpdateResource and loaded as a data file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/run_updater.h"
#include "app/updater_state.h"
#include "base/system.h"
#include "package/block.h"
#include "package/package_writer.h"
#include "tests/support/ini_files.h"
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

// Text values come back in code page 932 whatever the system's code page; a
// folder that code page 932 cannot spell comes back in its short form, and
// a text without one is refused, never passed on with '?' or look-alikes.
TEST_F(RegistryText, TextInCodePage932OrShortFormOrNothing) {
  std::string folder = MakeScratchFolder("zo");
  std::wstring wideFolder(folder.begin(), folder.end());  // an ASCII path
  std::wstring foreign = wideFolder + L"\\Zo\u00EB \u0141\u00F3d\u017A";
  ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), nullptr));
  struct Case {
    std::wstring stored;
    bool found;
    const char* expected;  // nullptr: a short form, naming the same folder
  } cases[] = {
      {L"C:\\\u30B2\u30FC\u30E0\\\u30BD\u30D5\u30C8", true, "C:\\\x83\x51\x81\x5B\x83\x80\\\x83\x5C\x83\x74\x83\x67"},
      {foreign, true, nullptr},
      {L"C:\\Nowhere\\Zo\u00EB", false, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, L"InstPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.stored.c_str()),
                             static_cast<DWORD>((c.stored.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(Query("InstPath"), c.found);
    EXPECT_TRUE(Terminated());
    if (c.expected) {
      EXPECT_STREQ(buffer, c.expected);
    } else {
      for (const char* p = buffer; *p; ++p) EXPECT_LT(static_cast<unsigned char>(*p), 0x80) << buffer;
      EXPECT_NE(SysGetFileAttributes(buffer) & FILE_ATTRIBUTE_DIRECTORY, 0u) << buffer;
    }
  }
  RemoveDirectoryW(foreign.c_str());
}

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

namespace {

// The folder of this test executable, as the updater finds its own.
std::string ModuleFolder() {
  char folder[MAX_PATH] = {};
  SysGetModuleFolder(folder, sizeof folder);
  return folder;
}

// An updater for a game of this test process: its package holds the given
// UPDATE.INI; its registry key is removed at the end.
struct Updater : ::testing::Test {
  std::string company = "FA2UpdaterTest" + std::to_string(GetCurrentProcessId());
  std::string keyPath = "Software\\" + company + "\\Game";
  std::string folder;
  HMODULE module = nullptr;

  void SetUp() override {
    ResetUpdaterState();
    folder = MakeScratchFolder("updater");
    std::string ini = IniSection{"SETUP", {}}
                          .Set("CompanyName", company)
                          .Set("GameTitle", "テストゲーム")
                          .Set("GameClass", "TestGameClass")
                          .Set("GameDir", "Game")
                          .Text();
    Bytes package;
    std::string error;
    std::vector<PackageInput> inputs = {
        {"UPDATE.INI", 0, reinterpret_cast<const uint8_t*>(ini.data()), ini.size()}};
    ASSERT_TRUE(BuildPackage(inputs, PackageOptions{}, &package, &error)) << error;

    std::string exe = folder + "\\UPDATE.EXE";
    ASSERT_TRUE(CopyFileA((ModuleFolder() + "\\..\\updater.exe").c_str(), exe.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceA(update, "UPDATE", MAKEINTRESOURCEA(102), 0, package.data(),
                                static_cast<DWORD>(package.size())));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
    RegDeleteKeyA(HKEY_CURRENT_USER, keyPath.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company).c_str());
    ResetUpdaterState();
  }
  void Register(DWORD type, const std::string& installPath) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "InstPath", 0, type, reinterpret_cast<const BYTE*>(installPath.data()),
                   static_cast<DWORD>(installPath.size()));
    DWORD mode = 0;
    RegSetValueExA(key, "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), 4);
    RegCloseKey(key);
  }
  // Runs the whole program; it must stop with exactly one box and leave no
  // UPDATE.INI behind.
  void ExpectStopWith(const std::string& text) {
    BoxWatcher watcher;
    EXPECT_EQ(RunUpdater(module), 0);
    ASSERT_EQ(watcher.boxes.size(), 1u) << text;
    EXPECT_EQ(watcher.boxes[0].text, text);
    EXPECT_EQ(watcher.boxes[0].caption, "UPDATE");
    EXPECT_EQ(updaterState.package, nullptr);
    if (updaterState.tempIniPath[0]) {
      EXPECT_FALSE(FileExists(updaterState.tempIniPath));
    }
  }
};

}  // namespace

TEST_F(Updater, ScriptFileIsItsOwnAndIsDeletedOnTheWayOut) {
  // Another copy's script in the temporary folder is neither replaced nor
  // deleted by a copy that stops.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string other = std::string(temp) + "UPDATE.INI";
  const std::string script = "another copy's script";
  ASSERT_TRUE(WriteWholeFile(other, script));
  ExpectStopWith("「テストゲーム」がインストールされていません");
  EXPECT_NE(std::string(updaterState.tempIniPath), other);
  EXPECT_EQ(ReadWholeFile(other), Bytes(script.begin(), script.end()));
  DeleteFileA(other.c_str());
}

TEST_F(Updater, TemporaryFolderTooLongForTheScript) {
  char saved[MAX_PATH] = {};
  DWORD had = GetEnvironmentVariableA("TMP", saved, MAX_PATH);
  // The folder's path leaves no room for the script's file name.
  std::string tooLong = "C:\\" + std::string(245, 'T');
  SetEnvironmentVariableA("TMP", tooLong.c_str());
  ExpectStopWith("UPDATE.INI not found at UPDATE.FA2");
  EXPECT_STREQ(updaterState.tempIniPath, "");
  SetEnvironmentVariableA("TMP", had ? saved : nullptr);
}

TEST_F(Updater, InstallationPathTooLongForSetupIni) {
  // An InstPath that fills the whole buffer without a terminator keeps 259
  // bytes, which leave no room for "\\SETUP.INI".
  Register(REG_BINARY, std::string(kPathCapacity, 'A'));
  ExpectStopWith("インストール先に \"SETUP.INI\" ファイルが見つかりません");
  EXPECT_EQ(std::string(updaterState.installPath), std::string(kPathCapacity - 1, 'A'));

  ResetUpdaterState();
  Register(REG_SZ, "C:\\" + std::string(248, 'B'));
  ExpectStopWith("インストール先に \"SETUP.INI\" ファイルが見つかりません");
}

// Both ways this project reads INI files, against GetPrivateProfileStringA on
// a code page 932 system: the updater's (SysGetPrivateProfileString: a UTF-16
// copy of the code page 932 file, read by the system, so that any system
// reads it as a Japanese one does) and the portable reader that `fa2 check`
// uses (config/ini_text). Generated files, every lookup, several capacities;
// the result and every byte of the buffer must agree, and no copy may stay
// behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/system.h"
#include "config/ini_text.h"
#include "tests/support/ini_files.h"
#include "tests/support/ini_generator.h"
#include "tests/support/test_files.h"

namespace {

std::string Hex(const char* bytes, size_t size) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%02X ", static_cast<unsigned char>(bytes[i]));
    text += byte;
  }
  return text;
}

int CopiesInTemporaryFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(temp) + "INI*.TMP").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do ++count; while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

constexpr size_t kMaxCapacity = 1024;
// The updater's way writes a copy per file: it reads the first files only.
constexpr uint32_t kSeeds = 200, kSeedsReadByTheUpdater = 50;

TEST(IniDifferential, GeneratedFilesReadAsOnACodePage932System) {
  ASSERT_EQ(GetACP(), 932u) << "run under a code page 932 system";
  std::string folder = MakeScratchFolder("inidiff");
  int copiesBefore = CopiesInTemporaryFolder();
  int lookups = 0, failures = 0;
  for (uint32_t seed = 1; seed <= kSeeds && failures < 10; ++seed) {
    GeneratedIni generated = GenerateIniFile(seed);
    std::string path = WriteIniFile(folder, generated.text);
    IniText ini = ParseIniText(generated.text);
    const size_t capacities[] = {1, 2 + seed % 19, 260, kMaxCapacity};
    for (const auto& [section, key] : generated.lookups) {
      for (size_t capacity : capacities) {
        char expected[kMaxCapacity], actual[kMaxCapacity];
        DWORD systemCount = 0;
        // The system's read into a buffer filled with fill: bytes it leaves
        // alone must be left alone by the reader compared with it too.
        auto systemRead = [&](int fill) {
          std::memset(expected, fill, sizeof expected);
          std::memset(actual, fill, sizeof actual);
          systemCount = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", expected,
                                                 static_cast<DWORD>(capacity), path.c_str());
        };
        auto compare = [&](const char* reader, size_t count) {
          ++lookups;
          if (systemCount == count && std::memcmp(expected, actual, capacity) == 0) return;
          ADD_FAILURE() << reader << ", seed " << seed << " [" << Hex(section.data(), section.size())
                        << "] " << Hex(key.data(), key.size()) << "capacity " << capacity
                        << "\n  system: " << systemCount << "  " << Hex(expected, capacity)
                        << "\n  ours:   " << count << "  " << Hex(actual, capacity)
                        << "\n  file:   " << Hex(generated.text.data(), generated.text.size());
          ++failures;
        };
        // The portable reader clears the whole buffer, as the system's
        // read does on a cleared one.
        systemRead(0);
        compare("portable reader",
                ReadIniString(ini, section.c_str(), key.c_str(), actual, capacity));
        if (seed > kSeedsReadByTheUpdater || capacity == 1) continue;
        systemRead(0x55);
        compare("updater", SysGetPrivateProfileString(section.c_str(), key.c_str(), "", actual,
                                                      static_cast<DWORD>(capacity), path.c_str()));
      }
      if (failures >= 10) break;
    }
  }
  std::printf("%d lookups compared\n", lookups);
  // The updater's copies stay for its next lookups until it forgets them.
  SysForgetIniCopies();
  EXPECT_EQ(CopiesInTemporaryFolder(), copiesBefore);
}

// A file that starts with a byte order mark is decoded by that mark on every
// system; a missing file gives the fallback.
TEST(IniDifferential, MarkedAndMissingFilesInTheUpdater) {
  std::string folder = MakeScratchFolder("inicp");
  std::string utf8 = WriteIniFile(folder, "\xEF\xBB\xBF[S]\r\nK=\xE8\xA1\xA8\r\n");  // 表 in UTF-8
  char value[16];
  EXPECT_EQ(SysGetPrivateProfileString("S", "K", "", value, sizeof value, utf8.c_str()), 2u);
  EXPECT_STREQ(value, "\x95\x5C");
  EXPECT_EQ(SysGetPrivateProfileString("S", "K", "none", value, sizeof value,
                                       (folder + "\\MISSING.INI").c_str()), 4u);
  EXPECT_STREQ(value, "none");
}

// A file read many times is copied once, and again only once it changes;
// the copies go when the updater forgets them. A file too large to be a
// real SETUP.INI is not read at all, however well its first keys read.
void Rewrite(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(file);
}

TEST(IniDifferential, OneCopyPerFileAndNoneOfAFileTooLarge) {
  std::string folder = MakeScratchFolder("inionce");
  SysForgetIniCopies();
  int before = CopiesInTemporaryFolder();
  std::string path = WriteIniFile(folder, "[SETUP]\r\nA=1\r\nB=2\r\n");
  char value[16];
  for (const char* key : {"A", "B", "A", "C"})
    SysGetPrivateProfileString("SETUP", key, "", value, sizeof value, path.c_str());
  EXPECT_EQ(CopiesInTemporaryFolder(), before + 1);
  Rewrite(path, "[SETUP]\r\nA=3\r\n");
  EXPECT_EQ(SysGetPrivateProfileString("SETUP", "A", "", value, sizeof value, path.c_str()), 1u);
  EXPECT_STREQ(value, "3");
  EXPECT_EQ(CopiesInTemporaryFolder(), before + 1);
  std::string large = "[SETUP]\r\nA=1\r\n" + std::string(1 << 20, ';');
  Rewrite(path, large);
  EXPECT_EQ(SysGetPrivateProfileString("SETUP", "A", "", value, sizeof value, path.c_str()), 0u);
  SysForgetIniCopies();
  EXPECT_EQ(CopiesInTemporaryFolder(), before);
}

}  // namespace

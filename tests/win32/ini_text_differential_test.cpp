// Our portable INI reader against the system's own (GetPrivateProfileStringA,
// code page 932): generated files, every lookup, several capacities; the
// result and every byte of the buffer must agree.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

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

TEST(IniTextDifferential, GeneratedFilesReadAsTheSystemReadsThem) {
  ASSERT_EQ(GetACP(), 932u) << "run under a code page 932 system";
  std::string folder = MakeScratchFolder("initext");
  constexpr size_t kMaxCapacity = 1024;
  int lookups = 0, failures = 0;
  for (uint32_t seed = 1; seed <= 200 && failures < 10; ++seed) {
    GeneratedIni generated = GenerateIniFile(seed);
    std::string path = WriteIniFile(folder, generated.text);
    IniText ini = ParseIniText(generated.text);
    const size_t capacities[] = {1, 2 + seed % 19, 260, kMaxCapacity};
    for (const auto& [section, key] : generated.lookups) {
      for (size_t capacity : capacities) {
        char expected[kMaxCapacity], actual[kMaxCapacity];
        std::memset(expected, 0, sizeof expected);
        DWORD systemCount = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", expected,
                                                     static_cast<DWORD>(capacity), path.c_str());
        size_t ourCount = ReadIniString(ini, section.c_str(), key.c_str(), actual, capacity);
        ++lookups;
        if (systemCount == ourCount && std::memcmp(expected, actual, capacity) == 0) continue;
        ADD_FAILURE() << "seed " << seed << " [" << Hex(section.data(), section.size()) << "] "
                      << Hex(key.data(), key.size()) << "capacity " << capacity
                      << "\n  system: " << systemCount << "  " << Hex(expected, capacity)
                      << "\n  ours:   " << ourCount << "  " << Hex(actual, capacity)
                      << "\n  file:   " << Hex(generated.text.data(), generated.text.size());
        if (++failures >= 10) break;
      }
      if (failures >= 10) break;
    }
  }
  std::printf("%d lookups compared\n", lookups);
}

}  // namespace

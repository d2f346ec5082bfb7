// The project's character rules against the system's own for code page 932:
// the lead bytes, and which characters SameEntryName takes for one letter in
// two cases. Both hold for every character, on any system code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "package/entry_name.h"

namespace {

struct Character {
  std::string bytes;
  std::wstring upper;  // the system's upper case of the character
  bool canonical;      // the code the system itself gives the character
};

// Every character of code page 932 that is allowed in a file name.
std::vector<Character> AllCharacters() {
  std::vector<Character> all;
  auto add = [&all](const std::string& bytes) {
    wchar_t wide[4];
    int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), wide, 4);
    if (n != 1 || wide[0] < 0x20) return;
    char back[4];
    BOOL usedDefault = FALSE;
    int m = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, 1, back, 4, nullptr, &usedDefault);
    std::wstring upper(wide, 1);
    CharUpperBuffW(upper.data(), 1);
    all.push_back({bytes, upper, !usedDefault && std::string(back, m) == bytes});
  };
  for (int c = 0x20; c < 0x100; ++c) {
    if (!IsCp932LeadByte(static_cast<unsigned char>(c))) {
      if (c != '\\' && c != '/' && c != ':') add(std::string(1, static_cast<char>(c)));
      continue;
    }
    for (int t = 0x40; t <= 0xFC; ++t) add({static_cast<char>(c), static_cast<char>(t)});
  }
  return all;
}

}  // namespace

TEST(CodePage932, LeadBytesAreTheSystemsOwn) {
  for (int c = 0; c < 256; ++c)
    EXPECT_EQ(IsCp932LeadByte(static_cast<unsigned char>(c)), IsDBCSLeadByteEx(932, c) != 0) << c;
}

TEST(SameEntryName, AgreesWithTheSystemsUpperCaseOnEveryCharacter) {
  std::vector<Character> all = AllCharacters();
  ASSERT_GT(all.size(), 9000u);
  // Whatever SameEntryName joins, the system gives one upper case.
  size_t joined = 0;
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j)
      if (all[i].bytes.size() == all[j].bytes.size() &&
          SameEntryName(all[i].bytes.c_str(), all[j].bytes.c_str())) {
        ++joined;
        EXPECT_EQ(all[i].upper, all[j].upper) << all[i].bytes << " " << all[j].bytes;
      }
  EXPECT_GE(joined, 26u + 26u + 24u + 33u + 10u);
  // And characters of one upper case, in the codes the system gives them,
  // are one name.
  std::map<std::wstring, std::vector<std::string>> byUpper;
  for (const Character& c : all)
    if (c.canonical) byUpper[c.upper].push_back(c.bytes);
  for (const auto& [upper, codes] : byUpper)
    for (size_t k = 1; k < codes.size(); ++k)
      EXPECT_TRUE(SameEntryName(codes[0].c_str(), codes[k].c_str())) << codes[0] << " " << codes[k];
}

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/join_path.h"

namespace {

// Joins in a 260-byte buffer whose bytes start as 'x', so that the second
// NUL is seen to be written.
std::string Join(const char* path, const char* name, bool* secondNul = nullptr) {
  char buffer[260];
  std::memset(buffer, 'x', sizeof buffer);
  std::strcpy(buffer, path);
  EXPECT_TRUE(JoinPath(buffer, name));
  size_t n = std::strlen(buffer);
  if (secondNul) *secondNul = buffer[n + 1] == '\0';
  return buffer;
}

}  // namespace

TEST(JoinPath, SeparatorRulesAndSecondNul) {
  struct Case {
    const char* path;
    const char* name;
    const char* joined;
  } cases[] = {
      {"", "a", "a"},
      {"C:\\dir", "a", "C:\\dir\\a"},
      {"C:/dir/", "a", "C:/dir/a"},
      {"C:\\dir\\", "a", "C:\\dir\\a"},
      {"C:\\", "UPDATE.INI", "C:\\UPDATE.INI"},
      {"C:\\dir", "", "C:\\dir\\"},
  };
  for (const Case& c : cases) {
    bool secondNul = false;
    EXPECT_EQ(Join(c.path, c.name, &secondNul), c.joined) << c.path;
    EXPECT_TRUE(secondNul) << c.path;
  }
}

TEST(JoinPath, ADoubleByteCharacterEndingIn5CIsNotASeparator) {
  // 表, ソ, 能 and 十 all have the trail byte 0x5C.
  for (const char* last : {"表", "ソ", "能", "十"}) {
    ASSERT_EQ(static_cast<unsigned char>(last[1]), 0x5C);
    std::string path = std::string("C:\\ゲーム") + last;
    EXPECT_EQ(Join(path.c_str(), "SETUP.INI"), path + "\\SETUP.INI") << path;
  }
  EXPECT_EQ(Join("表", "a"), "表\\a");
  EXPECT_EQ(Join("C:\\表\\", "a"), "C:\\表\\a");
  // Lead byte, then a trail byte in the lead range, then a real backslash:
  // only a scan from the start tells that the last character is '\'.
  EXPECT_EQ(Join("\x81\x81\\", "a"), "\x81\x81\\a");
  EXPECT_EQ(Join("\x81\x81\x95\x5C", "a"), "\x81\x81\x95\x5C\\a");
  // A lead byte with nothing behind it stands alone.
  EXPECT_EQ(Join("ab\x95", "c"), "ab\x95\\c");
  // Half-width katakana are single bytes.
  EXPECT_EQ(Join("ｿ\\", "a"), "ｿ\\a");
}

TEST(JoinPath, AResultThatDoesNotFitLeavesThePathUnchanged) {
  char buffer[16];
  auto reset = [&] {
    std::memset(buffer, 'x', sizeof buffer);
    std::strcpy(buffer, "C:\\dir");  // 6 characters
  };
  // 6 + separator + 7 + two NULs = 16: fits exactly.
  reset();
  EXPECT_TRUE(JoinPath(buffer, "abcdefg"));
  EXPECT_STREQ(buffer, "C:\\dir\\abcdefg");
  EXPECT_EQ(buffer[15], '\0');

  reset();
  char before[16];
  std::memcpy(before, buffer, sizeof buffer);
  EXPECT_FALSE(JoinPath(buffer, "abcdefgh"));
  EXPECT_EQ(std::memcmp(buffer, before, sizeof buffer), 0);

  // A path that already fills the buffer, and one not terminated inside it.
  std::memset(buffer, 'y', sizeof buffer);
  buffer[15] = '\0';
  std::memcpy(before, buffer, sizeof buffer);
  EXPECT_FALSE(JoinPath(buffer, ""));
  EXPECT_EQ(std::memcmp(buffer, before, sizeof buffer), 0);
  std::memset(buffer, 'y', sizeof buffer);
  EXPECT_FALSE(JoinPath(buffer, sizeof buffer, "a"));

  // The 260-byte paths every caller uses hold at most 258 characters.
  char path[260];
  std::string full(257, 'p');
  std::strcpy(path, full.c_str());
  EXPECT_TRUE(JoinPath(path, ""));
  EXPECT_EQ(std::strlen(path), 258u);
  std::strcpy(path, full.c_str());
  EXPECT_FALSE(JoinPath(path, "a"));
  EXPECT_EQ(std::string(path), full);
}

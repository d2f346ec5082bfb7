// The value readers against real INI files read by the system's own INI
// reader, and the boxes they show for missing keys.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/updater_state.h"
#include "config/ini_access.h"
#include "tests/support/ini_files.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/test_files.h"

namespace {

struct IniAccess : ::testing::Test {
  std::string folder;
  std::string file;

  void SetUp() override {
    ResetUpdaterState();
    folder = MakeScratchFolder("ini");
    // Code page 932 values, some with the trail byte 0x5C, and empty values.
    std::string text =
        "[SETUP]\r\n"
        "GameTitle=テスト表示ゲーム\r\n"
        "Path=C:\\ゲーム\\ソフト表\r\n"
        "Empty=\r\n"
        "Blank=   \r\n"
        "Twice=first\r\n"
        "Twice=second\r\n"
        "Fill=" + std::string(259, 'f') + "\r\n"
        "Long=" + std::string(300, 'l') + "\r\n"
        "Number=12abc\r\n"
        "Word=abc\r\n"
        "Negative=-7\r\n"
        "AllOnes=4294967295\r\n"
        "ManyDigits=12345678901234567890123\r\n"
        "[設定]\r\n"
        "表示=能力\r\n";
    file = WriteIniFile(folder, text);
    CopyText(updaterState.setupIniPath, file.c_str());
  }
  void TearDown() override { ResetUpdaterState(); }
};

// A buffer with guard bytes behind the capacity, all set to 'X' first.
struct Guarded {
  char bytes[kTextCapacity + 8];
  Guarded() { std::memset(bytes, 'X', sizeof bytes); }
  bool ZeroFrom(size_t from, size_t capacity) const {
    for (size_t i = from; i < capacity; ++i)
      if (bytes[i] != '\0') return false;
    return true;
  }
  bool GuardsIntact(size_t capacity) const {
    for (size_t i = capacity; i < sizeof bytes; ++i)
      if (bytes[i] != 'X') return false;
    return true;
  }
};

void ExpectConfigBox(const SeenBox& box, const std::string& text) {
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, "KELDOVAR");
  EXPECT_TRUE(box.errorIcon);
  EXPECT_TRUE(box.hasOk);
  EXPECT_FALSE(box.hasCancel);
  EXPECT_EQ(box.owner, nullptr);
}

}  // namespace

TEST_F(IniAccess, PresentValuesAreCopiedAndTheWholeCapacityIsZeroed) {
  BoxWatcher watcher;
  Guarded b;
  EXPECT_EQ(ReadIniValue("SETUP", "GameTitle", b.bytes, 260, file.c_str()), 1);
  EXPECT_STREQ(b.bytes, "テスト表示ゲーム");
  EXPECT_TRUE(b.ZeroFrom(std::strlen(b.bytes), 260));
  EXPECT_TRUE(b.GuardsIntact(260));

  Guarded p;
  EXPECT_EQ(ReadSetupValue("Path", p.bytes, 1024), 1);
  EXPECT_STREQ(p.bytes, "C:\\ゲーム\\ソフト表");
  EXPECT_TRUE(p.ZeroFrom(std::strlen(p.bytes), 1024));

  Guarded j;
  EXPECT_EQ(ReadIniValue("設定", "表示", j.bytes, 260, file.c_str()), 1);
  EXPECT_STREQ(j.bytes, "能力");

  // A duplicate key: the system's reader answers with the first.
  Guarded d;
  EXPECT_EQ(ReadSetupValue("Twice", d.bytes, 260), 1);
  EXPECT_STREQ(d.bytes, "first");
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(IniAccess, ValuesThatFillOrOverflowTheBufferAreCut) {
  BoxWatcher watcher;
  Guarded fill;
  EXPECT_EQ(ReadSetupValue("Fill", fill.bytes, 260), 1);
  EXPECT_EQ(std::string(fill.bytes), std::string(259, 'f'));
  EXPECT_TRUE(fill.GuardsIntact(260));

  Guarded cut;
  EXPECT_EQ(ReadSetupValue("Long", cut.bytes, 260), 1);
  EXPECT_EQ(std::string(cut.bytes), std::string(259, 'l'));
  EXPECT_TRUE(cut.GuardsIntact(260));

  Guarded whole;
  EXPECT_EQ(ReadSetupValue("Long", whole.bytes, 1024), 1);
  EXPECT_EQ(std::string(whole.bytes), std::string(300, 'l'));
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(IniAccess, MissingKeysGiveZeroAnAllZeroBufferAndABoxWhileNotQuiet) {
  BoxWatcher watcher;
  std::string absent = folder + "\\NOFILE.INI";
  struct Case {
    const char* section;
    const char* key;
    const char* file;
    const char* message;
  } cases[] = {
      {"SETUP", "Empty", file.c_str(), "SETUP : Empty キーが存在しません"},
      {"SETUP", "Blank", file.c_str(), "SETUP : Blank キーが存在しません"},
      {"SETUP", "Nothing", file.c_str(), "SETUP : Nothing キーが存在しません"},
      {"UPDATE", "GameTitle", file.c_str(), "UPDATE : GameTitle キーが存在しません"},
      {"SETUP", "GameTitle", absent.c_str(), "SETUP : GameTitle キーが存在しません"},
      {"設定", "表", file.c_str(), "設定 : 表 キーが存在しません"},
      // The message is formatted once; a key name is never read as a format.
      {"SETUP", "Key%s%d", file.c_str(), "SETUP : Key%s%d キーが存在しません"},
  };
  for (const Case& c : cases) {
    Guarded b;
    EXPECT_EQ(ReadIniValue(c.section, c.key, b.bytes, 260, c.file), 0) << c.key;
    EXPECT_TRUE(b.ZeroFrom(0, 260)) << c.key;
    EXPECT_TRUE(b.GuardsIntact(260)) << c.key;
  }
  ASSERT_EQ(watcher.boxes.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) ExpectConfigBox(watcher.boxes[i], cases[i].message);

  watcher.boxes.clear();
  Guarded b;
  EXPECT_EQ(ReadSetupValue("Empty", b.bytes, 260), 0);
  EXPECT_EQ(ReadSetupValue("表示", b.bytes, 260), 0);
  ASSERT_EQ(watcher.boxes.size(), 2u);
  ExpectConfigBox(watcher.boxes[0], "SETUP.INI : Empty キーが存在しません");
  ExpectConfigBox(watcher.boxes[1], "SETUP.INI : 表示 キーが存在しません");
}

TEST_F(IniAccess, QuietReadersShowNoBox) {
  BoxWatcher watcher;
  updaterState.quiet = 1;
  Guarded b;
  int32_t value = 5;
  EXPECT_EQ(ReadIniValue("SETUP", "Empty", b.bytes, 260, file.c_str()), 0);
  EXPECT_EQ(ReadSetupValue("Nothing", b.bytes, 260), 0);
  EXPECT_EQ(ReadSetupInt("Nothing", value), 0);
  EXPECT_TRUE(b.ZeroFrom(0, 260));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(watcher.boxes.empty());
  // Present values still read as before.
  EXPECT_EQ(ReadSetupValue("GameTitle", b.bytes, 260), 1);
  EXPECT_STREQ(b.bytes, "テスト表示ゲーム");
}

TEST_F(IniAccess, ReadSetupIntConvertsLikeDecimalTextAndLeavesMissingTargetsAlone) {
  BoxWatcher watcher;
  struct Case {
    const char* key;
    int32_t value;
  } cases[] = {
      {"Number", 12},
      {"Word", 0},
      {"Negative", -7},
      {"AllOnes", -1},
      // Only the first 19 characters are seen.
      {"ManyDigits", static_cast<int32_t>(static_cast<uint32_t>(1234567890123456789ULL))},
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    EXPECT_EQ(ReadSetupInt(c.key, value), 1) << c.key;
    EXPECT_EQ(value, c.value) << c.key;
  }
  EXPECT_TRUE(watcher.boxes.empty());

  int32_t value = 99;
  EXPECT_EQ(ReadSetupInt("Empty", value), 0);
  EXPECT_EQ(value, 99);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  ExpectConfigBox(watcher.boxes[0], "SETUP.INI : Empty キーが存在しません");
}

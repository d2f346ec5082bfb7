// Loading SETUP.INI from real files: values, defaults, limits, disc numbers
// and the boxes of every validation failure.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/updater_state.h"
#include "config/install_description.h"
#include "config/tokenizer.h"
#include "tests/support/ini_files.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/test_files.h"

namespace {

IniSection Baseline() {
  IniSection s{"SETUP", {}};
  s.Set("CompanyName", "テストソフト")
      .Set("GameTitle", "テスト表示ゲーム")
      .Set("GameDir", "表示ゲーム")
      .Set("GameExe", "GAME.EXE")
      .Set("UninstExe", "UNINST.EXE")
      .Set("SetupBmp", "SETUP1.BMP,SETUP2.BMP")
      .Set("InstallSelects", "2")
      .Set("InstallTitle0", "標準インストール")
      .Set("InstallTitle1", "フルインストール")
      .Set("InstallFiles0", "GAME.EXE,DATA\\表.DAT")
      .Set("InstallFiles1", "GAME.EXE,1:MOVIE\\OP.AVI,VOICE.DAT")
      .Set("Shortcuts", "1")
      .Set("Shortcut0", "テスト表示ゲーム,GAME.EXE");
  return s;
}

std::string List(const char* stem, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) {
    if (i) list += ',';
    list += stem;
    list += std::to_string(i);
  }
  return list;
}

struct InstallDescriptionLoad : ::testing::Test {
  std::string folder;
  BoxWatcher watcher;
  const InstallDescription& d = installDescription;

  void SetUp() override {
    ResetUpdaterState();
    ResetInstallDescription();
    updaterState.quiet = 1;  // as start-up leaves it
    folder = MakeScratchFolder("setup");
  }
  void TearDown() override {
    ResetUpdaterState();
    ResetInstallDescription();
  }
  int Load(const IniSection& s) {
    watcher.boxes.clear();
    std::string path = WriteIniFile(folder, s.Text());
    CopyText(updaterState.setupIniPath, path.c_str());
    return LoadInstallDescription();
  }
  void ExpectOneConfigBox(const std::string& text) {
    ASSERT_EQ(watcher.boxes.size(), 1u) << text;
    EXPECT_EQ(watcher.boxes[0].text, text);
    EXPECT_EQ(watcher.boxes[0].caption, "KELDOVAR");
    EXPECT_TRUE(watcher.boxes[0].errorIcon);
    EXPECT_TRUE(watcher.boxes[0].hasOk);
    EXPECT_FALSE(watcher.boxes[0].hasCancel);
  }
};

}  // namespace

TEST_F(InstallDescriptionLoad, EveryValueOfAFullDescription) {
  IniSection s = Baseline();
  s.Set("InstallSelects", "3")
      .Set("InstallTitle2", "最小")
      .Set("InstallFiles2", "2:ソフト表\\A.DAT,B.DAT")
      .Set("Shortcuts", "2")
      .Set("Shortcut1", "アンインストール,UNINST.EXE,/u")
      .Set("GameClass", "TestGameClass")
      .Set("DefaultSelect", "1")
      .Set("InstallSize0", "1000")
      .Set("InstallSize1", "3000000000")
      .Set("InstallSize2", "-1")
      .Set("DiskCheckFile1", "DISC1.CHK")
      .Set("DiskCheckFile9", "表\\DISC9.CHK")
      .Set("ExecApp", "README.EXE,能力.TXT,ignored")
      .Set("InstallDirectX", "3")
      .Set("InstallDXMessage", "ＤｉｒｅｃｔＸを入れます")
      .Set("SelectSetupMessage", "選んで下さい")
      .Set("AdditionalUninstallFiles", "SAVE\\*.DAT, 表.INI");
  ASSERT_EQ(Load(s), 1);
  EXPECT_TRUE(watcher.boxes.empty());

  EXPECT_STREQ(updaterState.companyName, "テストソフト");
  EXPECT_STREQ(updaterState.gameTitle, "テスト表示ゲーム");
  EXPECT_STREQ(updaterState.gameDir, "表示ゲーム");
  EXPECT_STREQ(updaterState.gameClass, "TestGameClass");
  EXPECT_STREQ(d.gameExe, "GAME.EXE");
  EXPECT_STREQ(d.uninstExe, "UNINST.EXE");
  EXPECT_STREQ(d.setupBmps[0], "SETUP1.BMP");
  EXPECT_STREQ(d.setupBmps[1], "SETUP2.BMP");
  EXPECT_STREQ(d.setupBmps[2], "");
  EXPECT_EQ(d.setupBmpLast, 1);
  EXPECT_EQ(d.installSelects, 3);
  EXPECT_STREQ(d.installTitles[2], "最小");
  EXPECT_STREQ(d.installFiles[0][1], "DATA\\表.DAT");
  EXPECT_STREQ(d.installFiles[2][0], "ソフト表\\A.DAT");
  EXPECT_EQ(d.shortcutCount, 2);
  EXPECT_STREQ(d.shortcuts[0][0], "テスト表示ゲーム");
  EXPECT_STREQ(d.shortcuts[0][1], "GAME.EXE");
  EXPECT_STREQ(d.shortcuts[0][2], "");
  EXPECT_STREQ(d.shortcuts[1][2], "/u");
  EXPECT_EQ(d.defaultSelect, 1);
  EXPECT_EQ(d.installSizes[0], 1000u);
  EXPECT_EQ(d.installSizes[1], 3000000000u);
  EXPECT_EQ(d.installSizes[2], 4294967295u);
  EXPECT_STREQ(d.diskCheckFiles[0], "");
  EXPECT_STREQ(d.diskCheckFiles[1], "DISC1.CHK");
  EXPECT_STREQ(d.diskCheckFiles[9], "表\\DISC9.CHK");
  EXPECT_STREQ(d.execApp[0], "README.EXE");
  EXPECT_STREQ(d.execApp[1], "能力.TXT");
  EXPECT_EQ(d.directXFlags, 0x00010018u);
  EXPECT_STREQ(d.installDXMessage, "ＤｉｒｅｃｔＸを入れます");
  EXPECT_STREQ(d.selectSetupMessage, "選んで下さい");
  EXPECT_EQ(d.additionalUninstallCount, 2);
  EXPECT_STREQ(d.additionalUninstallFiles[0], "SAVE\\*.DAT");
  EXPECT_STREQ(d.additionalUninstallFiles[1], "表.INI");
}

TEST_F(InstallDescriptionLoad, OptionalKeysTakeTheirDefaults) {
  CopyText(updaterState.gameClass, "ClassFromUpdateIni");
  IniSection s = Baseline();
  s.Set("DefaultSelect", "").Set("InstallDirectX", "").Set("DiskCheckFile0", "");
  ASSERT_EQ(Load(s), 1);
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_STREQ(updaterState.gameClass, "テスト表示ゲーム");
  EXPECT_EQ(d.defaultSelect, 0);
  EXPECT_EQ(d.installSizes[0], 0u);
  EXPECT_EQ(d.installSizes[1], 0u);
  for (const auto& file : d.diskCheckFiles) EXPECT_STREQ(file, "");
  EXPECT_STREQ(d.execApp[0], "");
  EXPECT_STREQ(d.execApp[1], "");
  EXPECT_EQ(d.directXFlags, 0u);
  EXPECT_STREQ(d.installDXMessage, "ＤｉｒｅｃｔＸをインストールする");
  EXPECT_STREQ(d.selectSetupMessage, "インストール方法を選択して下さい");
  EXPECT_EQ(d.additionalUninstallCount, 0);
}

TEST_F(InstallDescriptionLoad, AMissingRequiredKeyFailsWithoutABoxOnceQuiet) {
  for (const char* key : {"CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe",
                          "SetupBmp", "InstallSelects", "InstallTitle1", "InstallFiles1",
                          "Shortcuts", "Shortcut0"}) {
    for (bool empty : {false, true}) {
      IniSection s = Baseline();
      if (empty) s.Set(key, ""); else s.Remove(key);
      EXPECT_EQ(Load(s), 0) << key;
      EXPECT_TRUE(watcher.boxes.empty()) << key;
    }
  }
  // What was read before the failure stays.
  IniSection s = Baseline();
  s.Remove("UninstExe");
  ASSERT_EQ(Load(s), 0);
  EXPECT_STREQ(updaterState.companyName, "テストソフト");
  EXPECT_STREQ(d.gameExe, "GAME.EXE");
}

TEST_F(InstallDescriptionLoad, EachValidationFailureShowsItsMessage) {
  struct Row {
    const char* key;
    const char* value;
    const char* message;
  } rows[] = {
      {"SetupBmp", ",SETUP.BMP", "SETUP.INI : SetupBmps エラー"},
      {"InstallSelects", "4", "SETUP.INI : InstallSelect オーバー"},
      {"InstallFiles0", ",a", "SETUP.INI : InstallFiles0 エラー"},
      {"InstallFiles1", ",,", "SETUP.INI : InstallFiles1 エラー"},
      {"Shortcuts", "11", "SETUP.INI : Shortcuts オーバー"},
      {"Shortcut0", "GAME.EXE", "SETUP.INI : Shortcut0 エラー"},
      {"Shortcut0", ",GAME.EXE", "SETUP.INI : Shortcut0 エラー"},
      {"ExecApp", "README.EXE", "SETUP.INI : ExecApp エラー"},
      {"ExecApp", ",README.EXE", "SETUP.INI : ExecApp エラー"},
  };
  for (const Row& row : rows) {
    IniSection s = Baseline();
    s.Set(row.key, row.value);
    EXPECT_EQ(Load(s), 0) << row.key << "=" << row.value;
    ExpectOneConfigBox(row.message);
  }
  // The message names the failing shortcut's own key.
  IniSection s = Baseline();
  s.Set("Shortcuts", "10");
  for (int i = 0; i < 10; ++i) s.Set("Shortcut" + std::to_string(i), i == 9 ? "x" : "a,b");
  EXPECT_EQ(Load(s), 0);
  ExpectOneConfigBox("SETUP.INI : Shortcut9 エラー");
}

TEST_F(InstallDescriptionLoad, MissingKeysAreReportedOnlyUntilTheLoaderSetsQuiet) {
  updaterState.quiet = 0;
  IniSection s = Baseline();
  s.Remove("GameDir");
  EXPECT_EQ(Load(s), 0);
  ExpectOneConfigBox("SETUP.INI : GameDir キーが存在しません");

  s = Baseline();
  s.Remove("Shortcut0");
  EXPECT_EQ(Load(s), 0);
  ExpectOneConfigBox("SETUP.INI : Shortcut0 キーが存在しません");
  EXPECT_EQ(updaterState.quiet, 0u);

  // Every optional key is missing here, and none is reported.
  EXPECT_EQ(Load(Baseline()), 1);
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(updaterState.quiet, 1u);
}

TEST_F(InstallDescriptionLoad, SelectionAndShortcutLimits) {
  IniSection s = Baseline();
  s.Set("InstallSelects", "3").Set("InstallTitle2", "c").Set("InstallFiles2", "z");
  EXPECT_EQ(Load(s), 1);
  EXPECT_EQ(d.installSelects, 3);

  s = Baseline();
  s.Set("Shortcuts", "10");
  for (int i = 0; i < 10; ++i) s.Set("Shortcut" + std::to_string(i), "name" + std::to_string(i) + ",target");
  EXPECT_EQ(Load(s), 1);
  EXPECT_STREQ(d.shortcuts[9][0], "name9");
  EXPECT_TRUE(watcher.boxes.empty());

  // No selection at all: the numbered keys are not read even when present.
  for (const char* count : {"0", "-1"}) {
    ResetInstallDescription();
    s = Baseline();
    s.Set("InstallSelects", count).Set("InstallSize0", "5").Set("DefaultSelect", "7");
    EXPECT_EQ(Load(s), 1) << count;
    EXPECT_STREQ(d.installTitles[0], "");
    EXPECT_STREQ(d.installFiles[0][0], "");
    EXPECT_EQ(d.installSizes[0], 0u);
    EXPECT_EQ(d.defaultSelect, 7);
  }
  s = Baseline();
  s.Set("Shortcuts", "-3").Remove("Shortcut0");
  EXPECT_EQ(Load(s), 1);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST_F(InstallDescriptionLoad, DirectXFlags) {
  struct Row {
    const char* value;
    uint32_t flags;
  } rows[] = {{"", 0}, {"0", 0x10000}, {"4", 0x10000}, {"1", 0x10008}, {"5", 0x10008},
              {"2", 0x10010}, {"6", 0x10010}, {"3", 0x10018}, {"-1", 0x10018}};
  for (const Row& row : rows) {
    IniSection s = Baseline();
    s.Set("InstallDirectX", row.value);
    ASSERT_EQ(Load(s), 1);
    EXPECT_EQ(d.directXFlags, row.flags) << row.value;
  }
}

TEST_F(InstallDescriptionLoad, DiscNumbersPerSelection) {
  IniSection s = Baseline();
  s.Set("InstallSelects", "3")
      .Set("InstallTitle2", "c")
      .Set("InstallFiles0", "a,2:b,c")
      .Set("InstallFiles1", "d,e")
      .Set("InstallFiles2", "x:f,9:g,h")
      .Set("Shortcut0", "3:link,target")
      .Set("DiskCheckFile2", "DISC2.CHK");
  ASSERT_EQ(Load(s), 1);
  const int expected[3][3] = {{0, 2, 2}, {0, 0, 0}, {0, 9, 9}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(d.installFileDiscs[i][j], expected[i][j]) << i << "," << j;
  EXPECT_EQ(d.selectNeedsDisc[0], 1u);
  EXPECT_EQ(d.selectNeedsDisc[1], 0u);
  EXPECT_EQ(d.selectNeedsDisc[2], 1u);
  EXPECT_STREQ(d.installFiles[0][1], "b");
  EXPECT_STREQ(d.installFiles[2][0], "f");
  EXPECT_STREQ(d.shortcuts[0][0], "link");
  // Every disc number can index the disc check files.
  for (const auto& discs : d.installFileDiscs)
    for (int disc : discs) {
      EXPECT_GE(disc, 0);
      EXPECT_LT(disc, kDiscCount);
    }
  EXPECT_STREQ(d.diskCheckFiles[d.installFileDiscs[0][1]], "DISC2.CHK");
}

TEST_F(InstallDescriptionLoad, ListsKeepTheirCapacity) {
  installDescription.setupBmpLast = 77;
  IniSection s = Baseline();
  s.Set("SetupBmp", List("B", 25))
      .Set("InstallFiles0", List("F", 45))
      .Set("AdditionalUninstallFiles", List("U", 25));
  ASSERT_EQ(Load(s), 1);
  EXPECT_STREQ(d.setupBmps[19], "B19");
  EXPECT_EQ(d.setupBmpLast, 77);  // no end of list was met
  EXPECT_STREQ(d.installFiles[0][39], "F39");
  EXPECT_EQ(d.additionalUninstallCount, 20);
  EXPECT_STREQ(d.additionalUninstallFiles[19], "U19");

  // A shorter list closes with an empty slot, whatever it held.
  CopyText(installDescription.setupBmps[3], "stale");
  CopyText(installDescription.installFiles[1][3], "stale");
  s = Baseline();
  s.Set("SetupBmp", List("B", 3)).Set("InstallFiles1", List("F", 3)).Set("AdditionalUninstallFiles", ",U");
  ASSERT_EQ(Load(s), 1);
  EXPECT_STREQ(d.setupBmps[3], "");
  EXPECT_EQ(d.setupBmpLast, 2);
  EXPECT_STREQ(d.installFiles[1][3], "");
  EXPECT_EQ(d.additionalUninstallCount, 0);
}

TEST_F(InstallDescriptionLoad, LongItemsAreCutAndListsEndAtTheirReadCapacity) {
  // A 259-character shortcut value fills its 260-byte read; the scratch
  // buffer behind it still holds the longer InstallFiles1 list.
  std::string shortcut = "a," + std::string(257, 's');
  CopyText(installDescription.shortcuts[0][2], "stale");
  IniSection s = Baseline();
  s.Set("InstallFiles1", std::string(300, 'L') + "," + List("F", 60).substr(0, 600))
      .Set("Shortcut0", shortcut)
      .Set("ExecApp", std::string(100, 'e') + "," + std::string(200, 'x'));
  ASSERT_EQ(Load(s), 1);
  EXPECT_TRUE(watcher.boxes.empty());
  EXPECT_EQ(std::string(d.installFiles[1][0]), std::string(259, 'L'));
  EXPECT_STREQ(d.installFiles[1][1], "F0");
  EXPECT_STREQ(d.shortcuts[0][0], "a");
  EXPECT_EQ(std::string(d.shortcuts[0][1]), std::string(257, 's'));
  EXPECT_STREQ(d.shortcuts[0][2], "");
  // ExecApp is read with 260 bytes: its second item is cut by the read.
  EXPECT_EQ(std::string(d.execApp[0]), std::string(100, 'e'));
  EXPECT_EQ(std::string(d.execApp[1]), std::string(158, 'x'));
}

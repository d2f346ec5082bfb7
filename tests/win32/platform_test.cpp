// The Windows tests rely on a Japanese system: the ANSI code page must be
// 932, or every text comparison below would pass or fail for the wrong
// reasons. These cases make a wrongly set up environment fail loudly.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/system.h"
#include "config/error_boxes.h"
#include "app/updater_state.h"
#include "tests/support/message_boxes_win32.h"

TEST(Platform, AnsiCodePageIs932) {
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_TRUE(IsDBCSLeadByte(0x82));
  EXPECT_FALSE(IsDBCSLeadByte(0x5C));
}

TEST(Platform, LiteralsAreStoredAsCodePage932) {
  const char* text = "表";
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x95);
  EXPECT_EQ(static_cast<unsigned char>(text[1]), 0x5C);
}

// A formatted text that does not fit is cut before a double-byte character,
// never between its two bytes.
TEST(FormatText, ACutTextEndsOnAWholeCharacter) {
  char buffer[8];
  FormatText(buffer, "%s", "abcdef表示");  // 95 5C: only the lead byte would fit
  EXPECT_STREQ(buffer, "abcdef");
  FormatText(buffer, "%s%i", "ソフト", 12);
  EXPECT_STREQ(buffer, "ソフト1");
  FormatText(buffer, "%sあ", "abcdef");  // 82 A0 from the format itself
  EXPECT_STREQ(buffer, "abcdef");
  EXPECT_EQ(FormatText(buffer, "%s", "abcdeあ"), 7);  // fits whole
  EXPECT_STREQ(buffer, "abcdeあ");
}

TEST(ErrorBoxes, ConfigAndUpdateBoxesShowTheirCaptionsAndTheErrorIcon) {
  ResetUpdaterState();
  BoxWatcher watcher;
  ShowConfigError("設定エラー");
  CopyText(updaterState.caption, "ゲーム アップデート 1.0");
  ShowUpdateError("書き込みエラー");
  ASSERT_EQ(watcher.boxes.size(), 2u);
  EXPECT_EQ(watcher.boxes[0].text, "設定エラー");
  EXPECT_EQ(watcher.boxes[0].caption, "KELDOVAR");
  EXPECT_EQ(watcher.boxes[1].text, "書き込みエラー");
  EXPECT_EQ(watcher.boxes[1].caption, "ゲーム アップデート 1.0");
  for (const SeenBox& box : watcher.boxes) {
    EXPECT_TRUE(box.errorIcon);
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel);
    EXPECT_EQ(box.owner, nullptr);
  }
  ResetUpdaterState();
}

TEST(ErrorBoxes, OwnedByTheMainWindowWhileItExists) {
  ResetUpdaterState();
  HWND window = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  updaterState.mainWindow = window;
  BoxWatcher watcher;
  ShowUpdateError("a");
  DestroyWindow(window);
  ShowUpdateError("b");
  ASSERT_EQ(watcher.boxes.size(), 2u);
  EXPECT_EQ(watcher.boxes[0].owner, window);
  EXPECT_EQ(watcher.boxes[1].owner, nullptr);
  ResetUpdaterState();
}

// The wizard dialog made from the template the updater program carries (read
// from the built stub, updater.exe): its busy handling, and the update run's
// refusals: paths that would not fit their buffers, disc numbers outside 0 to
// 9, and copy items without a disc number, which come from the program's own
// folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "base/system.h"
#include "config/install_description.h"
#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "resources/resource_ids.h"
#include "tests/support/ini_files.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/test_files.h"
#include "wizard/dialog_font.h"
#include "wizard/update_run.h"
#include "wizard/wizard.h"

namespace {

// The folder of this test executable, as the updater finds its own.
std::string ModuleFolder() {
  char folder[MAX_PATH] = {};
  SysGetModuleFolder(folder, sizeof folder);
  return folder;
}

// The stub lies in the build folder, one above the test executables.
HMODULE Stub() {
  static HMODULE stub = LoadLibraryExA((ModuleFolder() + "\\..\\updater.exe").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE);
  return stub;
}

// The stub's Japanese wizard template.
std::vector<uint8_t> WizardTemplate() {
  HRSRC found = FindResourceExA(Stub(), RT_DIALOG, MAKEINTRESOURCEA(IDD_WIZARD),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
  if (!found) return {};
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(Stub(), found)));
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(Stub(), found));
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::string DialogText(HWND dialog, int id) {
  char text[kTextCapacity] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

}  // namespace

// Where the template's font is missing the dialog is made from a copy that
// names another: faces shorter and longer than the original, the controls
// unchanged behind them, and a dialog made from it drawn with that face.
TEST(WizardTemplate, OtherFontKeepsTheControls) {
  std::vector<uint8_t> bytes = WizardTemplate();
  ASSERT_FALSE(bytes.empty());
  TemplateFont original;
  ASSERT_TRUE(FindTemplateFont(bytes.data(), bytes.size(), original));
  wchar_t installed[LF_FACESIZE] = L"Japanese font missing";
  bool haveFont = SysAnyJapaneseFont(installed);
  for (const wchar_t* face : {L"A", L"A rather long face name here", (const wchar_t*)installed}) {
    uint8_t changed[4096];
    size_t size = WithTemplateFont(bytes.data(), bytes.size(), face, SHIFTJIS_CHARSET, changed,
                                   sizeof changed);
    ASSERT_GT(size, 0u);
    TemplateFont font;
    ASSERT_TRUE(FindTemplateFont(changed, size, font));
    EXPECT_EQ(changed[font.charsetOffset], SHIFTJIS_CHARSET);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(changed + font.faceOffset)), face);
    EXPECT_EQ(std::vector<uint8_t>(changed + font.itemsOffset, changed + size),
              std::vector<uint8_t>(bytes.begin() + original.itemsOffset, bytes.end()));
    EXPECT_EQ(WithTemplateFont(bytes.data(), bytes.size(), face, 0, changed, size - 1), 0u);
    if (face != installed || !haveFont) continue;
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                             reinterpret_cast<LPCDLGTEMPLATEW>(changed), nullptr,
                                             IgnoreMessages, 0);
    ASSERT_NE(dialog, nullptr);
    LOGFONTW used{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof used, &used);
    EXPECT_STREQ(used.lfFaceName, installed);
    wchar_t text[16] = {};
    GetDlgItemTextW(dialog, IDC_NEXT, text, 16);
    EXPECT_STREQ(text, L"次へ");
    DestroyWindow(dialog);
  }
}

namespace {

// A wizard made from the stub's template, run without a modal loop: commands
// are sent to it, and an ended dialog is hidden.
struct Wizard : ::testing::Test {
  HWND dialog = nullptr;
  std::string folder;
  std::string install;
  Bytes packageBytes;
  BoxWatcher* watcher = nullptr;

  void SetUp() override {
    ResetUpdaterState();
    ResetInstallDescription();
    updaterState.quiet = 1;
    CopyText(updaterState.caption, "テスト アップデート 1.0");
    CopyText(updaterState.gameTitle, "テスト");
    folder = MakeScratchFolder("wizard");
    install = folder + "\\install";
    CreateDirectoryA(install.c_str(), nullptr);
    CopyText(updaterState.installPath, install.c_str());
    std::vector<uint8_t> dialogTemplate = WizardTemplate();
    ASSERT_FALSE(dialogTemplate.empty()) << "updater.exe not built beside the tests";
    dialog = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
        nullptr, WizardDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override {
    delete watcher;
    if (dialog) DestroyWindow(dialog);
    FreeBlock(updaterState.package);
    ResetUpdaterState();
    ResetInstallDescription();
  }

  void Package(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<PackageInput> inputs;
    for (const auto& [name, text] : files)
      inputs.push_back({name, 0x01C0A1B2C3D4E5F6, reinterpret_cast<const uint8_t*>(text.data()),
                        text.size()});
    std::string error;
    ASSERT_TRUE(BuildPackage(inputs, PackageOptions{}, &packageBytes, &error)) << error;
    updaterState.packageBytes = packageBytes.data();
    updaterState.packageSize = static_cast<uint32_t>(packageBytes.size());
    updaterState.package = OpenPackage(packageBytes.data(), updaterState.packageSize);
    ASSERT_NE(updaterState.package, nullptr);
    updaterState.entries = updaterState.package->entries;
  }
  void Script(const IniSection& update) {
    CopyText(updaterState.tempIniPath, WriteIniFile(folder, update.Text()).c_str());
  }
  UpdateOutcome Run() {
    delete watcher;
    watcher = new BoxWatcher;
    return RunUpdate(dialog);
  }
  void Command(WPARAM id) { SendMessageA(dialog, WM_COMMAND, id, 0); }
  bool Ended() { return !IsWindowVisible(dialog); }
  void ExpectOneErrorBox(const std::string& text) {
    ASSERT_EQ(watcher->boxes.size(), 1u) << text;
    EXPECT_EQ(watcher->boxes[0].text, text);
    EXPECT_EQ(watcher->boxes[0].caption, "テスト アップデート 1.0");
    EXPECT_TRUE(watcher->boxes[0].errorIcon);
    EXPECT_EQ(watcher->boxes[0].owner, dialog);
  }
};

}  // namespace

TEST_F(Wizard, CommandsAndCloseAreIgnoredWhileBusy) {
  EXPECT_EQ(DialogText(dialog, IDC_STATUS), "「テスト」のアップデートを開始します");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_BACK)));
  busy = 1;
  for (WPARAM id : {IDC_NEXT, IDC_BACK, IDC_CANCEL}) Command(id);
  EXPECT_EQ(pageIndex, 0);
  EXPECT_FALSE(Ended());
  EXPECT_EQ(DialogText(dialog, IDC_STATUS), "「テスト」のアップデートを開始します");
  // The pointer is the wait cursor, also over the buttons.
  EXPECT_TRUE(SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog), HTCLIENT));
  busy = 0;
  EXPECT_FALSE(SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog), HTCLIENT));
  Command(IDC_NEXT);
  EXPECT_EQ(pageIndex, 1);
  EXPECT_EQ(DialogText(dialog, IDC_STATUS), "アップデートを実行します");
  Command(IDC_CANCEL);
  EXPECT_TRUE(Ended());
}

TEST_F(Wizard, WriteDestinationMustFitAPath) {
  // A destination of 259 bytes is written; one of 260 ends the run before
  // anything is written, with the write-failure message only. (The folder
  // is kept short enough for the extraction's temporary name beside it.)
  std::string deep = folder + "\\";
  ASSERT_LT(deep.size(), 230u);
  deep += std::string(244 - deep.size(), 'P');
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  ASSERT_TRUE(CreateDirectoryA((deep + "\\S").c_str(), nullptr));
  CopyText(updaterState.installPath, deep.c_str());
  Package({{"A2345678.DAT", "fits"}, {"A23456789.DAT", "too long"}});

  Script(IniSection{"UPDATE", {}}.Set("UpdateFile00", "S\\A2345678.DAT"));
  EXPECT_EQ(Run(), UpdateOutcome::Completed);
  EXPECT_EQ(ReadWholeFile(deep + "\\S\\A2345678.DAT"), Bytes({'f', 'i', 't', 's'}));

  Script(IniSection{"UPDATE", {}}.Set("UpdateFile00", "S\\A23456789.DAT"));
  EXPECT_EQ(Run(), UpdateOutcome::Failed);
  ExpectOneErrorBox("ファイルの書き込みに失敗しました");
  EXPECT_TRUE(Ended());
}

TEST_F(Wizard, CopySourceAndDestinationMustFitAPath) {
  std::string name = "FA2T_LONG_" + std::to_string(GetCurrentProcessId()) + std::string(40, 'N');
  std::string source = ModuleFolder() + "\\" + name;
  ASSERT_TRUE(WriteWholeFile(source, std::string("x")));

  std::string tooLong(250, 'L');
  Script(IniSection{"UPDATE", {}}.Set("CopyFile00", tooLong));
  EXPECT_EQ(Run(), UpdateOutcome::Failed);
  ExpectOneErrorBox("SETUP.INI : \"" + tooLong + "\" のコピーに失敗しました");

  // The source fits; the installation path joined with the name does not.
  CopyText(updaterState.installPath, ("C:\\" + std::string(230, 'I')).c_str());
  Script(IniSection{"UPDATE", {}}.Set("CopyFile00", name));
  EXPECT_EQ(Run(), UpdateOutcome::Failed);
  ExpectOneErrorBox("SETUP.INI : \"" + name + "\" のコピーに失敗しました");
  DeleteFileA(source.c_str());
}

TEST_F(Wizard, DiscNumberOutsideZeroToNineIsACopyFailure) {
  Package({{"A.DAT", "written first"}});
  for (const char* value : {"A:MOVIE", "/:MOVIE"}) {
    Script(IniSection{"UPDATE", {}}.Set("UpdateFile00", "A.DAT").Set("CopyFile00", value));
    EXPECT_EQ(Run(), UpdateOutcome::Failed) << value;
    // No disc prompt: the number never reaches the disc check files.
    ExpectOneErrorBox("SETUP.INI : \"MOVIE\" のコピーに失敗しました");
    // The file written first is gone again with the failed run, and so is
    // the journal.
    EXPECT_FALSE(FileExists(install + "\\A.DAT"));
    EXPECT_FALSE(FileExists(install + "\\~UPDATE.JNL"));
  }
}

TEST_F(Wizard, ItemsWithoutADiscComeFromTheProgramsFolder) {
  std::string tag = std::to_string(GetCurrentProcessId());
  std::string file = "FA2T_NODISC_" + tag + ".DAT";
  std::string dir = "FA2T_DIR_" + tag;
  std::string module = ModuleFolder();
  ASSERT_TRUE(WriteWholeFile(module + "\\" + file, std::string("beside the updater")));
  SetFileAttributesA((module + "\\" + file).c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA((module + "\\" + dir).c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(module + "\\" + dir + "\\IN.TXT", std::string("in a folder")));

  Script(IniSection{"UPDATE", {}}.Set("CopyFile00", file).Set("CopyFile01", "0:" + dir));
  EXPECT_EQ(Run(), UpdateOutcome::Completed);
  EXPECT_TRUE(watcher->boxes.empty());
  EXPECT_EQ(ReadWholeFile(install + "\\" + file), ReadWholeFile(module + "\\" + file));
  EXPECT_EQ(GetFileAttributesA((install + "\\" + file).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(FileExists(install + "\\" + dir + "\\IN.TXT"));
  EXPECT_EQ(DialogText(dialog, IDC_NEXT), "完了");

  SetFileAttributesA((module + "\\" + file).c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA((module + "\\" + file).c_str());
  DeleteFileA((module + "\\" + dir + "\\IN.TXT").c_str());
  RemoveDirectoryA((module + "\\" + dir).c_str());
}

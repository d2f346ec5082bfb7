// The wizard dialog made from the template the updater program carries (read
// from the built stub, updater.exe): its busy handling, and the update run's
// refusals: paths that would not fit their buffers, disc numbers outside 0 to
// 9, and copy items without a disc number, which come from the program's own
// folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "base/system.h"
#include "config/install_description.h"
#include "config/update_items.h"
#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "resources/resource_ids.h"
#include "tests/support/ini_files.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/test_files.h"
#include "wizard/dialog_font.h"
#include "wizard/run_progress.h"
#include "wizard/update_run.h"
#include "wizard/window_scale.h"
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

namespace {

// The window's size and every control's place in it, in pixels.
std::vector<RECT> Places(HWND dialog) {
  RECT window;
  GetWindowRect(dialog, &window);
  std::vector<RECT> places{{0, 0, window.right - window.left, window.bottom - window.top}};
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    places.emplace_back();
    GetWindowRect(child, &places.back());
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&places.back()), 2);
  }
  return places;
}

int IconSize(HWND window, WPARAM kind) {
  ICONINFO info{};
  if (!GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, kind, 0)), &info))
    return 0;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

}  // namespace

// Moved to monitors of other scales, the wizard is drawn as the dialog
// manager makes it there: the template's 10-point font at that DPI, the
// game's icons (this program carries the sample game's) at that scale,
// the shortage text's two lines inside the status text, the bar inside the
// window. Back at the first scale, not a pixel has moved.
TEST_F(Wizard, FollowsTheDisplaysScale) {
  char shortage[kTextCapacity];
  FormatShortageText(shortage, "C:", 0xFFFFFFFF, true);
  SetStatusText(dialog, "%s", shortage);
  ProgressBegin(dialog, 100);
  std::vector<RECT> start = Places(dialog);
  for (UINT dpi : {144u, 192u, WindowDpi(dialog)}) {
    RECT suggested{50, 40, 0, 0};
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    auto font = reinterpret_cast<HFONT>(SendMessageW(status, WM_GETFONT, 0, 0));
    LOGFONTW described{};
    GetObjectW(font, sizeof described, &described);
    EXPECT_EQ(described.lfHeight, -MulDiv(10, dpi, 72)) << dpi;
    EXPECT_EQ(IconSize(dialog, ICON_SMALL), MulDiv(16, dpi, 96)) << dpi;
    EXPECT_EQ(IconSize(dialog, ICON_BIG), MulDiv(32, dpi, 96)) << dpi;
    RECT text, client, bar;
    GetClientRect(status, &text);
    LONG height = text.bottom;
    wchar_t wide[kTextCapacity];
    GetWindowTextW(status, wide, kTextCapacity);
    HDC dc = GetDC(status);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, wide, -1, &text, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(status, dc);
    EXPECT_LE(text.bottom, height) << dpi;
    GetClientRect(dialog, &client);
    GetWindowRect(GetDlgItem(dialog, IDC_PROGRESS), &bar);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_TRUE(bar.right <= client.right && bar.bottom <= client.bottom) << dpi;
  }
  std::vector<RECT> end = Places(dialog);
  ASSERT_EQ(end.size(), start.size());
  for (size_t i = 0; i < end.size(); ++i) EXPECT_TRUE(EqualRect(&end[i], &start[i])) << i;
  ProgressEnd();
}

namespace {

// The system's taskbar list as the run finds it in this process
// (CoRegisterClassObject): it notes what the run asks of it.
struct FakeTaskbar : ITaskbarList3, IClassFactory {
  std::vector<TBPFLAG> states;
  std::vector<ULONGLONG> positions;  // of 10000
  HWND window = nullptr;
  STDMETHODIMP QueryInterface(REFIID id, void** out) override {
    *out = id == __uuidof(ITaskbarList3) ? static_cast<void*>(static_cast<ITaskbarList3*>(this))
           : id == IID_IClassFactory     ? static_cast<void*>(static_cast<IClassFactory*>(this))
                                         : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID id, void** out) override {
    return QueryInterface(id, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  STDMETHODIMP HrInit() override { return S_OK; }
  STDMETHODIMP SetProgressValue(HWND to, ULONGLONG done, ULONGLONG total) override {
    window = to;
    positions.push_back(done * 10000 / total);
    return S_OK;
  }
  STDMETHODIMP SetProgressState(HWND to, TBPFLAG state) override {
    window = to;
    states.push_back(state);
    return S_OK;
  }
  STDMETHODIMP AddTab(HWND) override { return S_OK; }
  STDMETHODIMP DeleteTab(HWND) override { return S_OK; }
  STDMETHODIMP ActivateTab(HWND) override { return S_OK; }
  STDMETHODIMP SetActiveAlt(HWND) override { return S_OK; }
  STDMETHODIMP MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
  STDMETHODIMP RegisterTab(HWND, HWND) override { return S_OK; }
  STDMETHODIMP UnregisterTab(HWND) override { return S_OK; }
  STDMETHODIMP SetTabOrder(HWND, HWND) override { return S_OK; }
  STDMETHODIMP SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  STDMETHODIMP ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  STDMETHODIMP ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  STDMETHODIMP ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  STDMETHODIMP SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  STDMETHODIMP SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  STDMETHODIMP SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

}  // namespace

// The wizard's taskbar button shows the run's progress from its start, its
// positions never going back, in the failure colour while a failure's boxes
// show, and none once the run has ended, completed or failed (a copy item on
// a disc that cannot be).
TEST_F(Wizard, TaskbarButtonMirrorsTheRun) {
  const CLSID taskbarList = {
      0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  Package({{"BIG.DAT", std::string(3 << 20, 'b')}});
  for (const char* copy : {"", "A:MOVIE"}) {
    FakeTaskbar taskbar;
    DWORD cookie = 0;
    ASSERT_TRUE(
        SUCCEEDED(CoRegisterClassObject(taskbarList, static_cast<IClassFactory*>(&taskbar),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)));
    ProgressOpenTaskbar();  // as the wizard does when it opens
    IniSection update{"UPDATE", {}};
    update.Set("UpdateFile00", "BIG.DAT");
    if (copy[0]) update.Set("CopyFile00", copy);
    Script(update);
    EXPECT_EQ(Run(), copy[0] ? UpdateOutcome::Failed : UpdateOutcome::Completed);
    ProgressCloseTaskbar();
    CoRevokeClassObject(cookie);
    EXPECT_EQ(taskbar.window, dialog);
    const std::vector<TBPFLAG> states = copy[0]
                                            ? std::vector{TBPF_NORMAL, TBPF_ERROR, TBPF_NOPROGRESS}
                                            : std::vector{TBPF_NORMAL, TBPF_NOPROGRESS};
    EXPECT_EQ(taskbar.states, states) << copy;
    ASSERT_FALSE(taskbar.positions.empty()) << copy;
    EXPECT_TRUE(std::is_sorted(taskbar.positions.begin(), taskbar.positions.end())) << copy;
    EXPECT_LE(taskbar.positions.back(), 10000u) << copy;
  }
  CoUninitialize();
}

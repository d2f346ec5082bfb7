// The end-to-end driver: starts the updater, drives its wizard and message
// boxes like a user, and checks what it shows, its exit code and the files it
// leaves, following a steps file (tests/e2e/README.md lists the steps). It
// prints a transcript of everything it saw and did, and exits 0 when every
// step held, 1 at the first one that did not, 2 on a bad steps file.
//
//   e2e_driver.exe STEPS-FILE
//
// Environment: E2E_UPDATER (the updater to start), E2E_WORK (the folder that
// relative paths of the steps start from), E2E_GAME (the game window
// program; by default e2e_game.exe beside the driver).
#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/steps.h"
#include "tests/e2e/windows_win32.h"

namespace {

constexpr double kDefaultWithin = 15.0;  // seconds a step waits for what it expects
constexpr DWORD kPollMs = 50;

struct Process {
  std::string name;
  PROCESS_INFORMATION info{};
};

struct Game {
  PROCESS_INFORMATION info{};
  std::wstring windowClass, title;
};

struct Driver {
  std::vector<Process> updaters;
  Game game;
  std::set<HWND> seenBoxes;  // boxes already checked (answered or not)
  std::set<std::wstring> tempBefore;  // the temporary folder before the first start
  HWND openBox = nullptr;    // a checked box left open by `box` without answer
  std::map<std::string, HANDLE> held;  // files held open by `hold`, by path
  DWORD startTick = 0;
  std::string failure;
};

Driver driver;

std::set<std::wstring> TempFiles();

// --- transcript -----------------------------------------------------------

void Print(const std::string& text) {
  std::string line = text + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
            &written, nullptr);
}

std::string Visible(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\r')
      shown += "{CR}";
    else if (c == '\n')
      shown += "{LF}";
    else
      shown += c;
  }
  return shown;
}

void Note(const std::string& text) {
  char stamp[32];
  snprintf(stamp, sizeof stamp, "[%6.2f] ", (GetTickCount() - driver.startTick) / 1000.0);
  Print(stamp + text);
}

bool Fail(const Step& step, const std::string& message) {
  driver.failure = "line " + std::to_string(step.line) + " (" + step.verb + "): " + message;
  return false;
}

// --- arguments --------------------------------------------------------------

bool CheckKeys(const Step& step, std::initializer_list<const char*> allowed) {
  for (const auto& [key, value] : step.args) {
    bool known = false;
    for (const char* name : allowed) known = known || key == name;
    if (!known) return Fail(step, "unknown argument '" + key + "'");
  }
  return true;
}

std::string Arg(const Step& step, const char* key, const std::string& fallback = "") {
  auto found = step.args.find(key);
  return found == step.args.end() ? fallback : found->second;
}

bool Has(const Step& step, const char* key) { return step.args.count(key) != 0; }

DWORD WithinMs(const Step& step) {
  return static_cast<DWORD>(atof(Arg(step, "within", std::to_string(kDefaultWithin)).c_str()) * 1000);
}

std::wstring Expand(const std::string& text) {
  std::wstring wide = FromUtf8(text);
  wchar_t expanded[4096] = {};
  ExpandEnvironmentStringsW(wide.c_str(), expanded, 4096);
  return expanded;
}

// A path of the steps file: environment variables expanded, and relative to
// E2E_WORK unless it starts with a drive or a backslash.
std::wstring ResolvePath(const std::string& path) {
  std::wstring expanded = Expand(path);
  bool absolute = (expanded.size() >= 2 && expanded[1] == L':') ||
                  (!expanded.empty() && expanded[0] == L'\\');
  if (absolute) return expanded;
  return Expand("%E2E_WORK%") + L"\\" + expanded;
}

std::string OnOff(bool on) { return on ? "on" : "off"; }
std::string YesNo(bool yes) { return yes ? "yes" : "no"; }

// --- processes ----------------------------------------------------------------

Process* FindUpdater(const Step& step) {
  std::string name = Arg(step, "name", "main");
  for (Process& process : driver.updaters)
    if (process.name == name) return &process;
  Fail(step, "no updater named '" + name + "' was started");
  return nullptr;
}

bool HasEnded(const Process& process, DWORD* code = nullptr) {
  if (WaitForSingleObject(process.info.hProcess, 0) != WAIT_OBJECT_0) return false;
  DWORD exitCode = 0;
  GetExitCodeProcess(process.info.hProcess, &exitCode);
  if (code) *code = exitCode;
  return true;
}

std::string EndedText(const Process& process) {
  DWORD code = 0;
  HasEnded(process, &code);
  return "the updater '" + process.name + "' ended with exit code " + std::to_string(code);
}

bool StartProgram(const std::wstring& exe, const std::wstring& arguments,
                  PROCESS_INFORMATION& info) {
  std::wstring commandLine = L"\"" + exe + L"\"" + arguments;
  std::wstring folder = Expand("%E2E_WORK%");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() || folder == L"%E2E_WORK%" ? nullptr : folder.c_str(),
                        &startup, &info) != 0;
}

bool DoStart(const Step& step) {
  if (!CheckKeys(step, {"name", "exe", "temp"})) return false;
  std::string name = Arg(step, "name", "main");
  std::wstring exe = ResolvePath(Arg(step, "exe", "%E2E_UPDATER%"));
  if (Has(step, "temp")) {
    // The temporary folder of the updaters started from now on, and of
    // check-temp-clean.
    std::wstring temp = ResolvePath(Arg(step, "temp"));
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
  }
  if (driver.updaters.empty()) driver.tempBefore = TempFiles();
  for (Process& earlier : driver.updaters)
    if (earlier.name == name && !HasEnded(earlier))
      return Fail(step, "the updater '" + name + "' is still running");
  driver.updaters.erase(std::remove_if(driver.updaters.begin(), driver.updaters.end(),
                                       [&](const Process& p) { return p.name == name; }),
                        driver.updaters.end());
  Process process;
  process.name = name;
  if (!StartProgram(exe, L"", process.info))
    return Fail(step, "cannot start " + ToUtf8(exe) + " (error " + std::to_string(GetLastError()) + ")");
  driver.updaters.push_back(process);
  Note("start " + name + ": " + ToUtf8(exe));
  return true;
}

bool DoExit(const Step& step) {
  if (!CheckKeys(step, {"name", "code", "within"})) return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  DWORD deadline = GetTickCount() + WithinMs(step);
  DWORD code = 0;
  while (!HasEnded(*process, &code)) {
    if (HWND box = FindMessageBox(process->info.dwProcessId, driver.seenBoxes)) {
      BoxState state = ReadBox(box);
      return Fail(step, "expected the updater to end, but it shows a box '" + state.caption +
                            "': '" + Visible(state.text) + "'");
    }
    if (static_cast<LONG>(GetTickCount() - deadline) > 0)
      return Fail(step, "the updater did not end; on screen: " +
                            DescribeWindows(process->info.dwProcessId));
    Sleep(kPollMs);
  }
  Note("exit " + process->name + ": code " + std::to_string(code));
  std::string expected = Arg(step, "code");
  if (!expected.empty() && std::to_string(code) != expected)
    return Fail(step, "exit code " + std::to_string(code) + ", expected " + expected);
  return true;
}

// --- the wizard ---------------------------------------------------------------

std::string Describe(const WizardState& state) {
  return "caption='" + state.caption + "' status='" + Visible(state.status) + "' back=" +
         OnOff(state.backOn) + " next=" + OnOff(state.nextOn) + " cancel=" +
         OnOff(state.cancelOn) + " next-text='" + state.nextText + "' focus=" + state.focus +
         " visible=" + YesNo(state.visible) + " foreground=" + YesNo(state.foreground);
}

// The expectations of a `wizard` step that `state` does not meet.
std::string WizardMismatches(const Step& step, const WizardState& state) {
  std::string result;
  auto expect = [&](const char* key, const std::string& seen) {
    if (Has(step, key) && Arg(step, key) != seen)
      result += std::string(" ") + key + ": expected '" + Visible(Arg(step, key)) + "', seen '" +
                Visible(seen) + "';";
  };
  expect("caption", state.caption);
  expect("status", state.status);
  expect("back", OnOff(state.backOn));
  expect("next", OnOff(state.nextOn));
  expect("cancel", OnOff(state.cancelOn));
  expect("next-text", state.nextText);
  expect("back-text", state.backText);
  expect("cancel-text", state.cancelText);
  expect("focus", state.focus);
  expect("visible", YesNo(state.visible));
  expect("foreground", YesNo(state.foreground));
  expect("dpi", state.dpi);
  return result;
}

// Waits for the wizard of the named updater (and, for a `wizard` step, for
// the state the step expects). Fails early when a box appears or the
// program ends instead.
HWND WaitForWizard(const Step& step, Process& process, bool checkState) {
  DWORD deadline = GetTickCount() + WithinMs(step);
  std::string last = "no wizard window";
  for (;;) {
    if (HWND wizard = FindWizard(process.info.dwProcessId)) {
      if (!checkState) return wizard;
      WizardState state = ReadWizard(wizard);
      if (state.readable) {
        std::string mismatches = WizardMismatches(step, state);
        if (mismatches.empty()) {
          Note("wizard " + Describe(state));
          return wizard;
        }
        last = "wizard" + mismatches + " (" + Describe(state) + ")";
      } else {
        last = "the wizard does not answer";
      }
    }
    if (HWND box = FindMessageBox(process.info.dwProcessId, driver.seenBoxes)) {
      BoxState state = ReadBox(box);
      Fail(step, "expected the wizard, but a box appeared '" + state.caption + "': '" +
                     Visible(state.text) + "'");
      return nullptr;
    }
    if (HasEnded(process)) {
      Fail(step, "expected the wizard, but " + EndedText(process));
      return nullptr;
    }
    if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
      Fail(step, last);
      return nullptr;
    }
    Sleep(kPollMs);
  }
}

bool DoWizard(const Step& step) {
  if (!CheckKeys(step,
                 {"name", "within", "caption", "status", "back", "next", "cancel", "next-text",
                  "back-text", "cancel-text", "focus", "visible", "foreground", "dpi"}))
    return false;
  Process* process = FindUpdater(step);
  return process && WaitForWizard(step, *process, true) != nullptr;
}

int ButtonId(const Step& step, const std::string& name) {
  if (name == "next") return kNextId;
  if (name == "back") return kBackId;
  if (name == "cancel") return kCancelId;
  Fail(step, "unknown button '" + name + "' (next, back or cancel)");
  return 0;
}

// click BUTTON: a mouse click on the button (BM_CLICK; a disabled button
// ignores it). command BUTTON: the button's command reaching the dialog, as
// from the keyboard or a click that the system delivers while the dialog
// is busy. key escape|enter: the key pressed in the dialog. close: the
// window's close box. hide: the window is hidden (to see it shown again).
bool DoWizardAction(const Step& step) {
  if (!CheckKeys(step, {"name", "within"})) return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  HWND wizard = WaitForWizard(step, *process, false);
  if (!wizard) return false;
  std::string what = step.words.empty() ? "" : step.words[0];
  if (step.verb == "click" || step.verb == "command") {
    int id = ButtonId(step, what);
    if (!id) return false;
    HWND button = GetDlgItem(wizard, id);
    if (step.verb == "click")
      PostMessageW(button, BM_CLICK, 0, 0);
    else
      PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  } else if (step.verb == "key") {
    WPARAM key = what == "escape" ? VK_ESCAPE : what == "enter" ? VK_RETURN : 0;
    if (!key) return Fail(step, "unknown key '" + what + "' (escape or enter)");
    PostMessageW(wizard, WM_KEYDOWN, key, 1);
    PostMessageW(wizard, WM_KEYUP, key, 0xC0000001);
  } else if (step.verb == "close") {
    PostMessageW(wizard, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (step.verb == "hide") {
    // The dialog manager shows the dialog once more when its message queue
    // first runs empty, so the window has to stay hidden for a moment.
    DWORD deadline = GetTickCount() + WithinMs(step);
    int hiddenRounds = 0;
    while (hiddenRounds < 10) {
      if (IsWindowVisible(wizard)) {
        hiddenRounds = 0;
        ShowWindowAsync(wizard, SW_HIDE);
      } else {
        ++hiddenRounds;
      }
      if (static_cast<LONG>(GetTickCount() - deadline) > 0)
        return Fail(step, "the wizard does not stay hidden");
      Sleep(kPollMs);
    }
  }
  Note(step.verb + (what.empty() ? "" : " " + what));
  return true;
}

// --- the game's icon on the wizard -----------------------------------------------

// Pixels (32-bit, top-down rows) of a width x height picture made by draw.
template <typename Draw>
std::vector<uint32_t> Picture(int width, int height, Draw draw) {
  BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory);
    GdiFlush();
    pixels.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  return pixels;
}

// wizard-icon file=ICO [present=yes|no]: the wizard's title bar shows (or
// does not show) the icon of the file at the small icon's size for the
// window's scale. Looked for in the picture of the title bar, as the player
// sees it: Wine does not let another process read a window's icons.
bool DoWizardIcon(const Step& step) {
  if (!CheckKeys(step, {"name", "within", "file", "present"})) return false;
  Process* process = FindUpdater(step);
  HWND wizard = process ? WaitForWizard(step, *process, false) : nullptr;
  if (!wizard) return false;
  int size = MulDiv(16, static_cast<int>(WindowDpi(wizard)), 96);
  auto icon = static_cast<HICON>(LoadImageW(nullptr, ResolvePath(Arg(step, "file")).c_str(),
                                            IMAGE_ICON, size, size, LR_LOADFROMFILE));
  if (!icon) return Fail(step, "cannot read the icon " + Arg(step, "file"));
  // Drawn on black and on white: the pixels alike in both are opaque.
  std::vector<uint32_t> drawn[2];
  for (DWORD background : {BLACKNESS, WHITENESS})
    drawn[background == WHITENESS] = Picture(size, size, [&](HDC dc) {
      PatBlt(dc, 0, 0, size, size, background);
      DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    });
  DestroyIcon(icon);
  Sleep(300);  // lets the window finish painting
  RECT window{}, client{};
  GetWindowRect(wizard, &window);
  GetClientRect(wizard, &client);
  MapWindowPoints(wizard, nullptr, reinterpret_cast<POINT*>(&client), 2);
  // The left half of the title bar.
  int width = (window.right - window.left) / 2, height = client.top - window.top;
  std::vector<uint32_t> bar = Picture(width, height, [&](HDC dc) {
    HDC screen = GetDC(nullptr);
    BitBlt(dc, 0, 0, width, height, screen, window.left, window.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
  });
  auto alike = [](uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8)
      if (abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8)
        return false;
    return true;
  };
  bool found = false;
  for (int y = 0; !bar.empty() && !found && y + size <= height; ++y) {
    for (int x = 0; !found && x + size <= width; ++x) {
      int opaque = 0, same = 0;
      for (int i = 0; i < size * size; ++i) {
        if ((drawn[0][i] & 0xFFFFFF) != (drawn[1][i] & 0xFFFFFF)) continue;
        ++opaque;
        same += alike(drawn[0][i], bar[(y + i / size) * width + x + i % size]);
      }
      found = opaque > 0 && same * 50 >= opaque * 49;
    }
  }
  std::string seen = "the icon of " + Arg(step, "file") + " at " + std::to_string(size) +
                     " px is " + (found ? "" : "not ") + "on the wizard's title bar";
  if (found != (Arg(step, "present", "yes") == "yes")) return Fail(step, seen);
  Note(seen);
  return true;
}

// --- message boxes --------------------------------------------------------------

bool AnswerBox(const Step& step, HWND box, const std::string& answer, DWORD withinMs) {
  if (answer == "ok" || answer == "cancel" || answer == "retry") {
    HWND button = GetDlgItem(box, answer == "ok" ? IDOK : answer == "retry" ? IDRETRY : IDCANCEL);
    if (!button) return Fail(step, "the box has no " + answer + " button");
    PostMessageW(button, BM_CLICK, 0, 0);
  } else if (answer == "close") {
    PostMessageW(box, WM_CLOSE, 0, 0);
  } else {
    return Fail(step, "unknown answer '" + answer + "' (ok, cancel, retry or close)");
  }
  DWORD deadline = GetTickCount() + withinMs;
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (static_cast<LONG>(GetTickCount() - deadline) > 0)
      return Fail(step, "the box stays open after '" + answer + "'");
    Sleep(kPollMs);
  }
  Note("answer " + answer);
  if (driver.openBox == box) driver.openBox = nullptr;
  return true;
}

std::string OwnerName(HWND owner, DWORD pid) {
  if (!owner) return "none";
  if (owner == FindWizard(pid)) return "wizard";
  return "other (" + ClassOf(owner) + " '" + TextOf(owner) + "')";
}

bool DoBox(const Step& step) {
  if (!CheckKeys(step, {"name", "within", "caption", "text", "icon", "buttons", "owner", "answer"}))
    return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  DWORD pid = process->info.dwProcessId;
  DWORD deadline = GetTickCount() + WithinMs(step);
  HWND box = nullptr;
  BoxState state;
  while (!box) {
    box = FindMessageBox(pid, driver.seenBoxes);
    if (box) {
      state = ReadBox(box);
      // A box whose texts are not set yet is read again on the next round.
      if (!state.readable || state.text.empty()) box = nullptr;
    }
    if (!box) {
      if (HasEnded(*process)) return Fail(step, "expected a box, but " + EndedText(*process));
      if (static_cast<LONG>(GetTickCount() - deadline) > 0)
        return Fail(step, "no box appeared; on screen: " + DescribeWindows(pid));
      Sleep(kPollMs);
    }
  }
  driver.seenBoxes.insert(box);
  std::string owner = OwnerName(state.owner, pid);
  Note("box caption='" + state.caption + "' text='" + Visible(state.text) + "' icon=" +
       YesNo(state.icon) + " buttons=" + state.buttons + " owner=" + owner);
  std::string mismatches;
  auto expect = [&](const char* key, const std::string& seen) {
    if (Has(step, key) && Arg(step, key) != seen)
      mismatches += std::string(" ") + key + ": expected '" + Visible(Arg(step, key)) +
                    "', seen '" + Visible(seen) + "';";
  };
  expect("caption", state.caption);
  expect("text", state.text);
  expect("icon", YesNo(state.icon));
  expect("buttons", state.buttons);
  expect("owner", owner);
  if (!mismatches.empty()) return Fail(step, "box" + mismatches);
  if (!Has(step, "answer")) {
    driver.openBox = box;
    return true;
  }
  return AnswerBox(step, box, Arg(step, "answer"), WithinMs(step));
}

bool DoAnswer(const Step& step) {
  if (!CheckKeys(step, {"within"})) return false;
  if (!driver.openBox || !IsWindow(driver.openBox))
    return Fail(step, "no box is open (a 'box' step without answer comes first)");
  return AnswerBox(step, driver.openBox, step.words.empty() ? "" : step.words[0], WithinMs(step));
}

// no-box within=S: for S seconds, the updater shows no new box.
bool DoNoBox(const Step& step) {
  if (!CheckKeys(step, {"name", "within"})) return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  DWORD deadline = GetTickCount() + WithinMs(step);
  while (static_cast<LONG>(GetTickCount() - deadline) <= 0) {
    if (HWND box = FindMessageBox(process->info.dwProcessId, driver.seenBoxes)) {
      BoxState state = ReadBox(box);
      return Fail(step, "a box appeared '" + state.caption + "': '" + Visible(state.text) + "'");
    }
    Sleep(kPollMs);
  }
  Note("no box");
  return true;
}

// --- screenshots ------------------------------------------------------------------

bool WriteBitmapFile(const std::wstring& path, HDC source, const RECT& area) {
  int width = area.right - area.left, height = area.bottom - area.top;
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up rows, as a BMP file stores them
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::string pixels(static_cast<size_t>(rowBytes) * height, '\0');
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);

  BITMAPFILEHEADER fileHeader{};
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
  fileHeader.bfSize = fileHeader.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, &fileHeader, sizeof fileHeader, &written, nullptr) &&
            WriteFile(file, &header, sizeof header, &written, nullptr) &&
            WriteFile(file, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(file);
  return ok;
}

// A picture of the screen around the updater's visible windows (the wizard
// and any box), with a small margin, in a bitmap file.
bool TakeSnapshot(const Step& step, const Process& process, const std::string& path) {
  Sleep(300);  // lets the windows finish painting
  RECT area{};
  bool any = false;
  for (HWND window : ProcessWindows(process.info.dwProcessId)) {
    if (!IsWindowVisible(window)) continue;
    RECT rect{};
    GetWindowRect(window, &rect);
    if (!any) area = rect; else UnionRect(&area, &area, &rect);
    any = true;
  }
  if (!any) return Fail(step, "the updater shows no window");
  InflateRect(&area, 12, 12);
  RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&area, &area, &screen);
  HDC screenDc = GetDC(nullptr);
  bool ok = WriteBitmapFile(ResolvePath(path), screenDc, area);
  ReleaseDC(nullptr, screenDc);
  if (!ok) return Fail(step, "cannot write " + path);
  Note("snapshot " + path);
  return true;
}

// snapshot path=FILE.bmp: that picture.
bool DoSnapshot(const Step& step) {
  if (!CheckKeys(step, {"name", "path"})) return false;
  Process* process = FindUpdater(step);
  return process && TakeSnapshot(step, *process, Arg(step, "path"));
}

// --- the game window ----------------------------------------------------------

HWND GameWindow() {
  return FindWindowW(driver.game.windowClass.c_str(), driver.game.title.c_str());
}

bool DoGameStart(const Step& step) {
  if (!CheckKeys(step, {"class", "title", "hidden", "within"})) return false;
  driver.game.windowClass = FromUtf8(Arg(step, "class"));
  driver.game.title = FromUtf8(Arg(step, "title"));
  std::wstring exe = Expand("%E2E_GAME%");
  if (exe == L"%E2E_GAME%") {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);
    exe = std::wstring(self) + L"\\e2e_game.exe";
  }
  std::wstring arguments = L" --class \"" + driver.game.windowClass + L"\" --title \"" +
                           driver.game.title + L"\"";
  if (Arg(step, "hidden") == "yes") arguments += L" --hidden";
  if (!StartProgram(exe, arguments, driver.game.info))
    return Fail(step, "cannot start the game window program " + ToUtf8(exe));
  DWORD deadline = GetTickCount() + WithinMs(step);
  while (!GameWindow()) {
    if (static_cast<LONG>(GetTickCount() - deadline) > 0)
      return Fail(step, "the game window did not appear");
    Sleep(kPollMs);
  }
  Note("game window '" + Arg(step, "title") + "' of class " + Arg(step, "class") + " is open");
  return true;
}

bool DoGameCheck(const Step& step) {
  if (!CheckKeys(step, {"visible", "foreground", "within"})) return false;
  DWORD deadline = GetTickCount() + WithinMs(step);
  for (;;) {
    HWND window = GameWindow();
    if (!window) return Fail(step, "the game window is gone");
    bool visible = IsWindowVisible(window) != 0;
    bool foreground = GetForegroundWindow() == window;
    bool match = (!Has(step, "visible") || Arg(step, "visible") == YesNo(visible)) &&
                 (!Has(step, "foreground") || Arg(step, "foreground") == YesNo(foreground));
    if (match) {
      Note("game window visible=" + YesNo(visible) + " foreground=" + YesNo(foreground));
      return true;
    }
    if (static_cast<LONG>(GetTickCount() - deadline) > 0)
      return Fail(step, "game window visible=" + YesNo(visible) + " foreground=" + YesNo(foreground));
    Sleep(kPollMs);
  }
}

bool DoGameClose(const Step& step) {
  if (!CheckKeys(step, {"within"})) return false;
  HWND window = GameWindow();
  if (!window) return Fail(step, "the game window is gone already");
  PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(driver.game.info.hProcess, WithinMs(step)) != WAIT_OBJECT_0)
    return Fail(step, "the game window program did not end");
  Note("game window closed");
  return true;
}

// --- registry -------------------------------------------------------------------

std::string ToCodePage932(const std::string& utf8) {
  std::wstring wide = FromUtf8(utf8);
  int size = WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

bool DoRegClear(const Step& step) {
  if (!CheckKeys(step, {"key"})) return false;
  std::wstring key = FromUtf8(Arg(step, "key"));
  DWORD result = SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
    return Fail(step, "cannot delete HKCU\\" + Arg(step, "key"));
  Note("registry: HKCU\\" + Arg(step, "key") + " removed");
  return true;
}

// reg key=K name=N and one of: sz=TEXT (a string with its terminator),
// binary=TEXT (the text's bytes, no terminator), fill=COUNT (COUNT letters,
// no terminator, as binary data, which no query converts), dword=NUMBER.
bool DoReg(const Step& step) {
  if (!CheckKeys(step, {"key", "name", "sz", "binary", "fill", "dword"})) return false;
  HKEY key = nullptr;
  std::wstring keyName = FromUtf8(Arg(step, "key"));
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return Fail(step, "cannot create HKCU\\" + Arg(step, "key"));
  std::wstring name = FromUtf8(Arg(step, "name"));
  std::string data;
  DWORD type = REG_SZ;
  std::string shown;
  if (Has(step, "sz")) {
    // Stored as UTF-16, as the system keeps every text value.
    std::wstring text = Expand(Arg(step, "sz"));
    data.assign(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    shown = "sz '" + Arg(step, "sz") + "'";
  } else if (Has(step, "binary")) {
    data = ToCodePage932(ToUtf8(Expand(Arg(step, "binary"))));
    type = REG_BINARY;
    shown = "binary '" + Arg(step, "binary") + "'";
  } else if (Has(step, "fill")) {
    data.assign(atoi(Arg(step, "fill").c_str()), 'x');
    type = REG_BINARY;
    shown = "binary of " + Arg(step, "fill") + " letters";
  } else if (Has(step, "dword")) {
    DWORD value = static_cast<DWORD>(strtoul(Arg(step, "dword").c_str(), nullptr, 0));
    data.assign(reinterpret_cast<const char*>(&value), sizeof value);
    type = REG_DWORD;
    shown = "dword " + Arg(step, "dword");
  } else {
    RegCloseKey(key);
    return Fail(step, "no value given (sz=, binary=, fill= or dword=)");
  }
  LONG result = RegSetValueExW(key, name.c_str(), 0, type,
                               reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return Fail(step, "cannot set value " + Arg(step, "name"));
  Note("registry: " + Arg(step, "name") + " = " + shown);
  return true;
}

// --- files ----------------------------------------------------------------------

std::set<std::wstring> TempFiles() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(Expand("%TEMP%\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool ReadWholeFile(const std::wstring& path, std::string& data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  data.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  return true;
}

std::string FormatTime(const FILETIME& time) {
  SYSTEMTIME utc{};
  FileTimeToSystemTime(&time, &utc);
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", utc.wYear, utc.wMonth, utc.wDay,
           utc.wHour, utc.wMinute, utc.wSecond);
  return text;
}

bool DoCheckFile(const Step& step) {
  if (!CheckKeys(step, {"path", "same", "size", "time", "accessed", "created", "readonly"}))
    return false;
  std::string path = Arg(step, "path");
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(ResolvePath(path).c_str(), GetFileExInfoStandard, &data))
    return Fail(step, path + " does not exist");
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(step, path + " is a folder");
  unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  bool readonly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  std::string seen = path + ": " + std::to_string(size) + " bytes, written " +
                     FormatTime(data.ftLastWriteTime) + ", readonly=" + YesNo(readonly);
  if (Has(step, "size") && Arg(step, "size") != std::to_string(size))
    return Fail(step, seen + "; expected " + Arg(step, "size") + " bytes");
  if (Has(step, "time") && Arg(step, "time") != FormatTime(data.ftLastWriteTime))
    return Fail(step, seen + "; expected written " + Arg(step, "time"));
  if (Has(step, "accessed") && Arg(step, "accessed") != FormatTime(data.ftLastAccessTime))
    return Fail(step, seen + "; accessed " + FormatTime(data.ftLastAccessTime) + ", expected " +
                          Arg(step, "accessed"));
  if (Has(step, "created") && Arg(step, "created") != FormatTime(data.ftCreationTime))
    return Fail(step, seen + "; created " + FormatTime(data.ftCreationTime) + ", expected " +
                          Arg(step, "created"));
  if (Has(step, "readonly") && Arg(step, "readonly") != YesNo(readonly))
    return Fail(step, seen + "; expected readonly=" + Arg(step, "readonly"));
  if (Has(step, "same")) {
    std::string actual, expected;
    if (!ReadWholeFile(ResolvePath(path), actual)) return Fail(step, "cannot read " + path);
    if (!ReadWholeFile(ResolvePath(Arg(step, "same")), expected))
      return Fail(step, "cannot read " + Arg(step, "same"));
    if (actual != expected) {
      size_t at = 0;
      while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
      return Fail(step, seen + "; differs from " + Arg(step, "same") + " (" +
                            std::to_string(expected.size()) + " bytes) at byte " +
                            std::to_string(at));
    }
    seen += ", same as " + Arg(step, "same");
  }
  Note("file " + seen);
  return true;
}

bool DoCheckMissing(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  if (GetFileAttributesW(ResolvePath(Arg(step, "path")).c_str()) != INVALID_FILE_ATTRIBUTES)
    return Fail(step, Arg(step, "path") + " exists");
  Note("missing " + Arg(step, "path"));
  return true;
}

// let-everyone-change path=FILE: Everyone is given every right on FILE (a
// file or a folder), as a folder made under C:\ gives every user; fails
// where the system keeps no access list there.
bool DoLetEveryoneChange(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  uint8_t everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  std::wstring path = ResolvePath(Arg(step, "path"));
  bool ok = CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size) &&
            SetEntriesInAclW(1, &access, nullptr, &acl) == ERROR_SUCCESS &&
            SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, acl, nullptr) == ERROR_SUCCESS;
  if (acl) LocalFree(acl);
  if (!ok) return Fail(step, "cannot give Everyone the rights on " + Arg(step, "path"));
  Note("Everyone may change " + Arg(step, "path"));
  return true;
}

// load-dll path=FILE: the driver loads FILE and lets it go, as any program
// would (the planted DLLs' probe proving that it leaves its mark).
bool DoLoadDll(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  HMODULE module = LoadLibraryW(ResolvePath(Arg(step, "path")).c_str());
  if (!module) return Fail(step, "cannot load " + Arg(step, "path"));
  FreeLibrary(module);
  Note("loaded " + Arg(step, "path"));
  return true;
}

// check-temp-clean: the temporary folder holds no file that was not there
// before the first updater started.
bool DoCheckTempClean(const Step& step) {
  if (!CheckKeys(step, {})) return false;
  for (const std::wstring& name : TempFiles())
    if (!driver.tempBefore.count(name))
      return Fail(step, "left in the temporary folder: " + ToUtf8(name));
  Note("nothing left in the temporary folder");
  return true;
}

bool DoCheckFolder(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  DWORD attributes = GetFileAttributesW(ResolvePath(Arg(step, "path")).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Fail(step, Arg(step, "path") + " is not a folder");
  Note("folder " + Arg(step, "path"));
  return true;
}

bool DoCopy(const Step& step) {
  if (!CheckKeys(step, {"from", "to"})) return false;
  if (!CopyFileW(ResolvePath(Arg(step, "from")).c_str(), ResolvePath(Arg(step, "to")).c_str(), FALSE))
    return Fail(step, "cannot copy " + Arg(step, "from") + " to " + Arg(step, "to"));
  Note("copied " + Arg(step, "from") + " to " + Arg(step, "to"));
  return true;
}

bool DoDelete(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  if (!DeleteFileW(ResolvePath(Arg(step, "path")).c_str()))
    return Fail(step, "cannot delete " + Arg(step, "path"));
  Note("deleted " + Arg(step, "path"));
  return true;
}

// Another program's hold on a file: open without any sharing, so that the
// updater can neither delete, rename nor write it until `release`.
bool DoHold(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  const std::string& path = Arg(step, "path");
  HANDLE file = CreateFileW(ResolvePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || driver.held.count(path))
    return Fail(step, "cannot hold " + path);
  driver.held[path] = file;
  Note("holding " + path);
  return true;
}

bool DoRelease(const Step& step) {
  if (!CheckKeys(step, {"path"})) return false;
  auto found = driver.held.find(Arg(step, "path"));
  if (found == driver.held.end()) return Fail(step, "not held: " + Arg(step, "path"));
  CloseHandle(found->second);
  driver.held.erase(found);
  Note("released " + Arg(step, "path"));
  return true;
}

bool DoSleep(const Step& step) {
  if (!CheckKeys(step, {})) return false;
  Sleep(static_cast<DWORD>(atof(step.words.empty() ? "0" : step.words[0].c_str()) * 1000));
  return true;
}

// --- whole folders ---------------------------------------------------------------

// Every file and folder under root, one line each in name order: the
// relative path, and for a file its size, last-write time (100 ns units),
// attributes and a hash of its contents; for a folder its attributes, and
// with folderTimes its last-write time too.
unsigned long long WriteTime(const WIN32_FIND_DATAW& data) {
  return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

void ListTree(const std::wstring& root, const std::wstring& relative, bool folderTimes,
              std::vector<std::string>& lines) {
  std::vector<std::pair<std::wstring, WIN32_FIND_DATAW>> entries;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((root + relative + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L".."))
      entries.push_back({found.cFileName, found});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [name, data] : entries) {
    std::wstring path = relative + L"\\" + name;
    char fields[160];
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      snprintf(fields, sizeof fields, " folder attributes=%lx",
               static_cast<unsigned long>(data.dwFileAttributes));
      std::string line = ToUtf8(path.substr(1)) + fields;
      if (folderTimes) line += " written=" + std::to_string(WriteTime(data));
      lines.push_back(line);
      ListTree(root, path, folderTimes, lines);
      continue;
    }
    std::string contents;
    ReadWholeFile(root + path, contents);
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : contents) hash = (hash ^ c) * 1099511628211ull;
    snprintf(fields, sizeof fields, " size=%zu written=%llu attributes=%lx hash=%016llx",
             contents.size(), WriteTime(data), static_cast<unsigned long>(data.dwFileAttributes), hash);
    lines.push_back(ToUtf8(path.substr(1)) + fields);
  }
}

// With folderTimes the text starts with a line that says so, and the folder
// itself is listed as "." with its last-write time.
const char kFolderTimesLine[] = "with folder times\n";

std::string TreeText(const std::string& path, bool folderTimes) {
  std::vector<std::string> lines;
  if (folderTimes) {
    WIN32_FIND_DATAW self{};
    HANDLE search = FindFirstFileW(ResolvePath(path).c_str(), &self);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    lines.push_back(". written=" + std::to_string(WriteTime(self)));
  }
  ListTree(ResolvePath(path), L"", folderTimes, lines);
  std::string text = folderTimes ? kFolderTimesLine : "";
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// save-tree path=FOLDER to=FILE [folder-times=yes]: FOLDER's whole tree, for
// check-tree (with every folder's last-write time, FOLDER's own included).
bool DoSaveTree(const Step& step) {
  if (!CheckKeys(step, {"path", "to", "folder-times"})) return false;
  std::string text = TreeText(Arg(step, "path"), Arg(step, "folder-times") == "yes");
  HANDLE file = CreateFileW(ResolvePath(Arg(step, "to")).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  bool ok = file != INVALID_HANDLE_VALUE &&
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!ok) return Fail(step, "cannot write " + Arg(step, "to"));
  Note("tree of " + Arg(step, "path") + " saved in " + Arg(step, "to"));
  return true;
}

// check-tree path=FOLDER same=FILE [or=FILE2]: FOLDER's tree is exactly the
// one saved in FILE (or in FILE2): contents, sizes, times, attributes, and
// no file or folder more or less.
bool DoCheckTree(const Step& step) {
  if (!CheckKeys(step, {"path", "same", "or"})) return false;
  std::string now, first;
  for (const char* key : {"same", "or"}) {
    if (!Has(step, key)) continue;
    std::string saved;
    if (!ReadWholeFile(ResolvePath(Arg(step, key)), saved))
      return Fail(step, "cannot read " + Arg(step, key));
    // Listed the way the saved tree was.
    now = TreeText(Arg(step, "path"), saved.rfind(kFolderTimesLine, 0) == 0);
    if (saved == now) {
      Note("tree of " + Arg(step, "path") + " is the one in " + Arg(step, key));
      return true;
    }
    if (first.empty()) first = saved;
  }
  // The first line that differs from the first tree given.
  now = TreeText(Arg(step, "path"), first.rfind(kFolderTimesLine, 0) == 0);
  size_t a = 0, b = 0;
  while (a < now.size() && b < first.size()) {
    size_t ea = now.find('\n', a), eb = first.find('\n', b);
    if (now.compare(a, ea - a, first, b, eb - b) != 0) break;
    a = ea + 1;
    b = eb + 1;
  }
  return Fail(step, "the tree of " + Arg(step, "path") + " differs: now '" +
                        now.substr(a, now.find('\n', a) - a) + "', saved '" +
                        first.substr(b, first.find('\n', b) - b) + "'");
}

// copy-tree from=FOLDER to=FOLDER: to becomes a copy of from (times and
// attributes kept), whatever it held before.
bool RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
      std::wstring inner = path + L"\\" + found.cFileName;
      SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(inner);
      else
        DeleteFileW(inner.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryW(path.c_str()) || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
  if (!CreateDirectoryW(to.c_str(), nullptr)) return false;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
  bool ok = true;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
      std::wstring a = from + L"\\" + found.cFileName, b = to + L"\\" + found.cFileName;
      ok = ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CopyTree(a, b)
                                                               : CopyFileW(a.c_str(), b.c_str(), TRUE) != 0) &&
           ok;
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(to.c_str(), GetFileAttributesW(from.c_str()));
  return ok;
}

bool DoCopyTree(const Step& step) {
  if (!CheckKeys(step, {"from", "to"})) return false;
  std::wstring to = ResolvePath(Arg(step, "to"));
  if (!RemoveTree(to) || !CopyTree(ResolvePath(Arg(step, "from")), to))
    return Fail(step, "cannot copy " + Arg(step, "from") + " to " + Arg(step, "to"));
  Note("copied the tree " + Arg(step, "from") + " to " + Arg(step, "to"));
  return true;
}

// kill [name=N]: the updater is ended at once, as by a crash.
bool DoKill(const Step& step) {
  if (!CheckKeys(step, {"name"})) return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  bool running = !HasEnded(*process);
  if (running) {
    TerminateProcess(process->info.hProcess, 99);
    WaitForSingleObject(process->info.hProcess, 10000);
  }
  Note(running ? "killed " + process->name : "kill: " + EndedText(*process));
  return true;
}

// Holds a thread back most of the time, as a slow or busy machine would, so
// that a run lasts long enough to be watched even where the data sit in the
// cache and the disk is idle (150 MB then take a fifth of a second): 40 ms
// stopped, 5 ms running.
struct Throttle {
  HANDLE thread;
  volatile bool stop;
};

DWORD WINAPI ThrottleLoop(void* parameter) {
  Throttle* throttle = static_cast<Throttle*>(parameter);
  while (!throttle->stop) {
    SuspendThread(throttle->thread);
    Sleep(40);
    ResumeThread(throttle->thread);
    Sleep(5);
  }
  return 0;
}

// watch-run status=TEXT [min-steps=N] [slow=yes] [within=S]: while the run goes on
// until the wizard shows TEXT, the wizard answers every message and the
// system never takes it for hung (no message taken for five seconds); its progress bar is shown,
// never goes back and advances at least N times (default 3); afterwards the
// bar is hidden. slow=yes lets the updater's thread run a ninth of the
// time meanwhile. snapshot=FILE.bmp: a picture of the run once its bar has
// advanced twice.
bool DoWatchRun(const Step& step) {
  if (!CheckKeys(step, {"name", "within", "status", "min-steps", "slow", "snapshot"})) return false;
  Process* process = FindUpdater(step);
  if (!process) return false;
  HWND wizard = WaitForWizard(step, *process, false);
  if (!wizard) return false;
  std::wstring expected = FromUtf8(Arg(step, "status"));
  int minSteps = atoi(Arg(step, "min-steps", "3").c_str());
  DWORD deadline = GetTickCount() + WithinMs(step);
  DWORD slowest = 0;
  int steps = 0, polls = 0;
  bool snapped = false;
  LRESULT last = -1;
  Throttle throttle{process->info.hThread, false};
  HANDLE throttler = Arg(step, "slow") == "yes"
                         ? CreateThread(nullptr, 0, ThrottleLoop, &throttle, 0, nullptr)
                         : nullptr;
  struct EndThrottle {
    Throttle& throttle;
    HANDLE thread;
    ~EndThrottle() {
      throttle.stop = true;
      if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
    }
  } endThrottle{throttle, throttler};
  for (;;) {
    // One message sent per round, so that rounds are as frequent as the
    // updater answers: the bar's position while it is shown, else a null
    // message to the wizard. The status text is read without a message.
    DWORD before = GetTickCount();
    DWORD_PTR result = 0;
    HWND bar = GetDlgItem(wizard, kProgressId);
    bool barShown = bar && IsWindowVisible(bar);
    // The limit is generous: a loaded machine and the throttle may hold an
    // answer back for a while, and hanging is what IsHungAppWindow tells.
    if (!SendMessageTimeoutW(barShown ? bar : wizard, barShown ? PBM_GETPOS : WM_NULL, 0, 0,
                             SMTO_ABORTIFHUNG, 30000, &result))
      return Fail(step, "the wizard did not answer for 30 seconds");
    if (IsHungAppWindow(wizard)) return Fail(step, "the system takes the wizard for hung");
    slowest = std::max(slowest, GetTickCount() - before);
    ++polls;
    if (barShown) {
      LRESULT position = static_cast<LRESULT>(result);
      if (position < last) return Fail(step, "the progress bar went back");
      if (last >= 0 && position > last) ++steps;
      last = position;
      if (steps == 2 && Has(step, "snapshot") && !snapped) {
        snapped = true;
        if (!TakeSnapshot(step, *process, Arg(step, "snapshot"))) return false;
      }
    }
    wchar_t status[512] = {};
    GetWindowTextW(GetDlgItem(wizard, kStatusId), status, 512);
    if (expected == status) {
      if (bar && IsWindowVisible(bar)) return Fail(step, "the progress bar stays after the run");
      break;
    }
    if (HasEnded(*process)) return Fail(step, "expected the run to go on, but " + EndedText(*process));
    if (static_cast<LONG>(GetTickCount() - deadline) > 0)
      return Fail(step, "the wizard does not show '" + Arg(step, "status") + "'");
    Sleep(2);
  }
  Note("watched the run: " + std::to_string(polls) + " answers, the slowest in " +
       std::to_string(slowest) + " ms; the progress bar advanced " + std::to_string(steps) + " times");
  if (steps < minSteps)
    return Fail(step, "the progress bar advanced " + std::to_string(steps) + " times, expected " +
                          std::to_string(minSteps) + " or more");
  return true;
}

// --- the run ------------------------------------------------------------------

bool RunStep(const Step& step) {
  const std::string& verb = step.verb;
  if (verb == "start") return DoStart(step);
  if (verb == "exit") return DoExit(step);
  if (verb == "wizard") return DoWizard(step);
  if (verb == "click" || verb == "command" || verb == "key" || verb == "close" || verb == "hide")
    return DoWizardAction(step);
  if (verb == "wizard-icon") return DoWizardIcon(step);
  if (verb == "box") return DoBox(step);
  if (verb == "answer") return DoAnswer(step);
  if (verb == "no-box") return DoNoBox(step);
  if (verb == "game-start") return DoGameStart(step);
  if (verb == "game-check") return DoGameCheck(step);
  if (verb == "game-close") return DoGameClose(step);
  if (verb == "reg-clear") return DoRegClear(step);
  if (verb == "reg") return DoReg(step);
  if (verb == "check-file") return DoCheckFile(step);
  if (verb == "check-missing") return DoCheckMissing(step);
  if (verb == "load-dll") return DoLoadDll(step);
  if (verb == "let-everyone-change") return DoLetEveryoneChange(step);
  if (verb == "check-folder") return DoCheckFolder(step);
  if (verb == "check-temp-clean") return DoCheckTempClean(step);
  if (verb == "copy") return DoCopy(step);
  if (verb == "delete") return DoDelete(step);
  if (verb == "hold") return DoHold(step);
  if (verb == "release") return DoRelease(step);
  if (verb == "sleep") return DoSleep(step);
  if (verb == "snapshot") return DoSnapshot(step);
  if (verb == "save-tree") return DoSaveTree(step);
  if (verb == "check-tree") return DoCheckTree(step);
  if (verb == "copy-tree") return DoCopyTree(step);
  if (verb == "kill") return DoKill(step);
  if (verb == "watch-run") return DoWatchRun(step);
  return Fail(step, "unknown step");
}

// Ends whatever is still running, so that the next scenario starts clean.
// An updater still running after the last step is a failure of the scenario.
bool EndLeftovers() {
  bool clean = true;
  for (Process& process : driver.updaters) {
    if (!HasEnded(process)) {
      Note("updater '" + process.name + "' still running (" +
           DescribeWindows(process.info.dwProcessId) + "); ended by the driver");
      TerminateProcess(process.info.hProcess, 99);
      WaitForSingleObject(process.info.hProcess, 5000);
      clean = false;
    }
  }
  if (driver.game.info.hProcess && WaitForSingleObject(driver.game.info.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(driver.game.info.hProcess, 0);
    WaitForSingleObject(driver.game.info.hProcess, 5000);
  }
  return clean;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  driver.startTick = GetTickCount();
  // Windows, their places and their pictures in the display's own pixels,
  // whatever its scale.
  UseDisplayPixels();
  if (argc != 2) {
    Print("usage: e2e_driver STEPS-FILE");
    return 2;
  }
  std::string text, error;
  std::vector<Step> steps;
  if (!ReadWholeFile(argv[1], text)) {
    Print("cannot read " + ToUtf8(argv[1]));
    return 2;
  }
  if (!ParseSteps(text, steps, error)) {
    Print("steps file: " + error);
    return 2;
  }
  bool passed = true;
  for (const Step& step : steps) {
    if (!RunStep(step)) {
      passed = false;
      break;
    }
  }
  if (!EndLeftovers() && passed) {
    passed = false;
    driver.failure = "an updater was still running after the last step";
  }
  Print(passed ? "PASS" : "FAIL " + driver.failure);
  return passed ? 0 : 1;
}

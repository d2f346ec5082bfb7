#include "app/run_updater.h"

#include <objbase.h>

#include "app/updater_state.h"
#include "base/system.h"
#include "config/error_boxes.h"
#include "config/ini_access.h"
#include "config/install_description.h"
#include "config/join_path.h"
#include "engine/journal.h"
#include "package/block.h"
#include "package/extract_entry.h"
#include "package/open_package.h"
#include "package/package_digests.h"
#include "resources/resource_ids.h"
#include "wizard/dialog_font.h"
#include "wizard/wizard.h"
#include "resources/texts.h"

namespace {

// The standard dialog class (a message box is one too): a second copy's
// wizard is found by this class and its caption.
const char* const kDialogClass = MAKEINTATOM(0x8002);

int Fail() {
  CleanUp();
  return 0;
}

// The package, and the digests that a made updater carries beside it: a
// package that is not the bytes they were taken of is refused whole, before
// anything is written (the temporary script included), in one box.
bool OpenOwnPackage() {
  UpdaterState& s = updaterState;
  s.packageBytes = FindPackageResource(s.instance, IDR_PACKAGE, "UPDATE", &s.packageSize);
  if (!s.packageBytes) {
    ShowUpdateError(kTextPackageMissing);
    return false;
  }
  uint32_t recordSize = 0;
  const uint8_t* record = FindPackageResource(s.instance, IDR_DIGESTS, "UPDATE", &recordSize);
  PackageDigests digests;
  if (record) {
    if (!ReadDigestRecord(record, recordSize, &digests) ||
        CheckWholePackage(s.packageBytes, s.packageSize, digests) != PackageWhole) {
      ShowUpdateError(kTextPackageDamaged);
      return false;
    }
    s.entryDigests = digests.entryDigests;
  }
  s.package = OpenPackage(s.packageBytes, s.packageSize);
  if (!s.package) {
    ShowUpdateError(kTextResourceReadError);
    return false;
  }
  s.entries = s.package->entries;
  return true;
}

// The update script goes to a file of its own in the temporary folder: a
// second copy of the updater, which extracts its script before it can know
// that it is the second, must not replace or delete the first one's. A
// folder whose path leaves no room for the name counts as an extraction
// that failed.
bool ExtractUpdateScript() {
  static_assert(kPathCapacity >= MAX_PATH);
  char folder[kPathCapacity];
  char* path = updaterState.tempIniPath;
  DWORD length = SysGetTempPath(folder, kPathCapacity);
  bool placed =
      length > 0 && length < kPathCapacity && SysCreateTempFile(folder, "UPD", path);
  if (!placed) path[0] = '\0';
  if (!placed || !ExtractEntry("UPDATE.INI", path)) {
    ShowUpdateError(kTextScriptMissing);
    return false;
  }
  return true;
}

// The identity from section "SETUP" of the script; the first missing key has
// been reported by the reader.
bool ReadIdentity() {
  UpdaterState& s = updaterState;
  const char* ini = s.tempIniPath;
  if (!ReadIniValue("SETUP", "CompanyName", s.companyName, kPathCapacity, ini) ||
      !ReadIniValue("SETUP", "GameTitle", s.gameTitle, kPathCapacity, ini) ||
      !ReadIniValue("SETUP", "GameClass", s.gameClass, kPathCapacity, ini) ||
      !ReadIniValue("SETUP", "GameDir", s.gameDir, kPathCapacity, ini))
    return false;
  s.quiet = 1;
  // Optional: absent leaves them empty.
  s.gameTitleA[0] = '\0';
  ReadIniValue("SETUP", "GameTitleA", s.gameTitleA, kPathCapacity, ini);
  s.installVersion[0] = '\0';
  ReadIniValue("SETUP", "InstallVersion", s.installVersion, kPathCapacity, ini);
  return true;
}

// InstPath and InstMode under HKCU\Software\<company>\<game folder>; found
// only when both can be read, whatever their types.
bool FindInstallation(char (&scratch)[kTextCapacity]) {
  UpdaterState& s = updaterState;
  FormatText(scratch, "Software\\%s\\%s", s.companyName, s.gameDir);
  bool found = false;
  HKEY key = nullptr;
  if (SysRegOpenKey(HKEY_CURRENT_USER, scratch, KEY_READ, &key) == ERROR_SUCCESS) {
    if (SysRegQueryText(key, "InstPath", s.installPath, kPathCapacity)) {
      DWORD size = sizeof s.installMode;
      found = SysRegQueryValue(key, "InstMode", &s.installMode, &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }
  if (!found) {
    FormatText(scratch, kTextNotInstalled, s.gameTitle);
    ShowUpdateError(scratch);
  }
  return found;
}

// An update that died half-way is undone before anything reads the
// installation. A journal that may not be acted on (it names a place that
// has changed since, or a step of its restore fails) stays, and the player
// learns where the originals are; the updater then changes nothing.
// A journal or work folder that other users may have written is not acted
// on either, and the player is told which.
bool RecoverEarlierUpdate(char (&scratch)[kTextCapacity]) {
  Recovery recovery = RecoverInstallation(updaterState.installPath);
  if (recovery != Recovery::CannotUndo && recovery != Recovery::SharedJournal &&
      recovery != Recovery::SharedWorkFolder)
    return true;
  char path[kPathCapacity];
  RecordPathOf(updaterState.installPath,
               recovery == Recovery::SharedJournal ? kJournalName : kWorkFolderName, path);
  FormatText(scratch, recovery == Recovery::CannotUndo ? kTextCannotUndo : kTextSharedJournal, path);
  ShowUpdateError(scratch);
  return false;
}

bool FindSetupIni() {
  UpdaterState& s = updaterState;
  bool placed = CopyText(s.setupIniPath, s.installPath) && JoinPath(s.setupIniPath, "SETUP.INI");
  if (!placed || SysGetFileAttributes(s.setupIniPath) == INVALID_FILE_ATTRIBUTES) {
    ShowUpdateError(kTextSetupIniMissing);
    return false;
  }
  return true;
}

// Asks the user to close the game for as long as a window of its class with
// this title exists. False when the user gives up; the game is then brought
// forward.
bool WaitForGameToClose(const char* title, char (&scratch)[kTextCapacity]) {
  for (;;) {
    HWND game = SysFindWindow(updaterState.gameClass, title);
    if (!game) return true;
    FormatText(scratch, kTextGameRunning, title);
    if (SysMessageBox(nullptr, scratch, updaterState.caption, MB_OKCANCEL) != IDOK) {
      ShowWindow(game, SW_SHOW);
      SetForegroundWindow(game);
      return false;
    }
  }
}

// Names the window, refuses to run beside another copy or the game, and runs
// the wizard. True when the wizard completed the update.
bool CheckAndRunWizard(char (&scratch)[kTextCapacity]) {
  UpdaterState& s = updaterState;
  FormatText(s.caption, kTextCaption, s.gameTitle, s.installVersion);

  if (HWND other = SysFindWindow(kDialogClass, s.caption)) {
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    return false;
  }
  if (!WaitForGameToClose(s.gameTitle, scratch)) return false;
  if (s.gameTitleA[0] && !WaitForGameToClose(s.gameTitleA, scratch)) return false;

  INT_PTR result = ShowWizardDialog(s.instance, nullptr, 0);
  // The dialog is gone: later boxes stand alone.
  s.mainWindow = nullptr;
  if (result != 0) {
    ShowUpdateError(kTextInterrupted);
    return false;
  }
  return true;
}

}  // namespace

const uint8_t* FindPackageResource(HINSTANCE instance, int id, const char* type,
                                   uint32_t* size) {
  HRSRC resource = SysFindResource(instance, id, type);
  if (!resource) return nullptr;
  DWORD length = SizeofResource(instance, resource);
  if (length == 0) return nullptr;
  HGLOBAL loaded = LoadResource(instance, resource);
  if (!loaded) return nullptr;
  const void* bytes = LockResource(loaded);
  if (!bytes) return nullptr;
  *size = length;
  return static_cast<const uint8_t*>(bytes);
}

void CleanUp() {
  if (updaterState.package) {
    FreeBlock(updaterState.package);
    updaterState.package = nullptr;
    updaterState.entries = nullptr;
  }
  SysDeleteFile(updaterState.tempIniPath);
  SysForgetIniCopies();
}

int RunUpdater(HINSTANCE instance) {
  // No link that a user without an administrator's rights planted is
  // followed from here on, where the system can tell (a system without the
  // guard goes on without it).
  SysGuardAgainstRedirection();
  // The shell's file copy wants COM on this thread.
  CoInitialize(nullptr);
  updaterState.instance = instance;

  char scratch[kTextCapacity];
  if (!OpenOwnPackage() || !ExtractUpdateScript() || !ReadIdentity() ||
      !FindInstallation(scratch))
    return Fail();
  if (!RecoverEarlierUpdate(scratch) || !FindSetupIni() || !LoadInstallDescription()) return Fail();
  if (!CheckAndRunWizard(scratch)) return Fail();
  CleanUp();
  return 1;
}

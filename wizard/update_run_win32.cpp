#include "wizard/update_run.h"

#include <shellapi.h>

#include <cstring>

#include "app/updater_state.h"
#include "base/system.h"
#include "config/error_boxes.h"
#include "config/ini_access.h"
#include "config/install_description.h"
#include "config/join_path.h"
#include "config/tokenizer.h"
#include "package/entry_name.h"
#include "package/extract_entry.h"
#include "package/open_package.h"
#include "resources/resource_ids.h"
#include "wizard/journal.h"
#include "wizard/run_progress.h"
#include "wizard/wizard.h"
#include "resources/texts.h"

namespace {

enum class UpdatePlan {
  Write,       // journaled: the original (if any) moved aside, the entry written in its place
  Skip,        // OverwriteOnly and nothing to overwrite
  Attempt,     // a folder in the way: the extraction is tried and fails on it, untouched
  CannotWrite  // the destination does not fit, or the journal cannot take it
};

// The working state of one run; a run after a shortage starts from scratch.
struct Run {
  HWND dialog;
  char value[kTextCapacity];  // INI values, the update destination, the disc prompt
  bool overwriteOnly;

  UpdateLists lists;

  // Where copy items without a disc number come from: the drive of the last
  // disc found, or the program's own folder while no disc was searched.
  char sourceRoot[kPathCapacity];
  bool sourceRootSet;
  char source[kPathCapacity];
  char destination[kPathCapacity];

  char failure[kTextCapacity];  // shown before the dialog ends, when set

  // How each update item is written, decided (and journaled) before the
  // first, and its destination.
  UpdatePlan plans[kListKeys];
  char destinations[kListKeys][kPathCapacity];
};

// A value of the section "UPDATE" of the extracted script.
bool ReadUpdateValue(void*, const char* key, char* value, size_t capacity) {
  return ReadIniValue("UPDATE", key, value, capacity, updaterState.tempIniPath) != 0;
}

uint32_t ReadUpdateInt(Run& run, const char* key) {
  int32_t value = 0;
  if (ReadUpdateValue(nullptr, key, run.value, kPathCapacity)) ParseDecimal(run.value, value);
  return static_cast<uint32_t>(value);
}

// text as a one-name list for the shell: the text and two NULs.
bool CopyAsList(char (&list)[kPathCapacity], const char* text) {
  size_t length = TextLength(text);
  if (length + 2 > kPathCapacity) return false;
  for (size_t i = 0; i < length; ++i) list[i] = text[i];
  list[length] = '\0';
  list[length + 1] = '\0';
  return true;
}

UpdateOutcome FailureExit(Run& run) {
  if (run.failure[0]) ShowUpdateError(run.failure);
  // The installation goes back to what it was before the run.
  JournalRollback();
  ProgressEnd();
  EndDialog(run.dialog, -1);
  return UpdateOutcome::Failed;
}

UpdateOutcome CopyFailure(Run& run, const CopyItem& item) {
  FormatText(run.failure, kTextCopyFailed, item.path);
  return FailureExit(run);
}

UpdateOutcome Completion(Run& run) {
  HWND dialog = run.dialog;
  if (!JournalCommit()) {
    ShowUpdateError(kTextWriteFailed);
    return FailureExit(run);
  }
  ProgressEnd();
  SetStatusText(dialog, kTextCompleted);
  SysSetDlgItemText(dialog, IDC_NEXT, kTextFinishButton);
  EnableButton(dialog, IDC_NEXT, true);
  SetFocus(GetDlgItem(dialog, IDC_NEXT));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  return UpdateOutcome::Completed;
}

// The size of the package entry called name (0 when there is none).
uint64_t EntrySize(const char* name) {
  uint32_t index = 0;
  if (!FindEntry(updaterState.package, name, &index)) return 0;
  return updaterState.package->entries[index].originalSize;
}

// Whether an earlier item writes the same file. Compared as the file system
// compares names, the same on every system code page (a second byte that a
// western code page reads as a letter is never folded).
bool SameDestination(const Run& run, int i) {
  for (int j = 0; j < i; ++j)
    if (run.plans[j] == UpdatePlan::Write &&
        SameEntryName(run.destinations[j], run.destinations[i]))
      return true;
  return false;
}

// Decides how each update item is written and puts it all in the journal,
// before the first is written: an original moves aside, a new destination
// is named as created. Nothing is reported here; each item's failure comes
// in its turn. Returns the bytes to write.
uint64_t PlanUpdateItems(Run& run) {
  uint64_t total = 0;
  for (int i = 0; i < run.lists.updateCount; ++i) {
    const UpdateItem& item = run.lists.updates[i];
    char* destination = run.destinations[i];
    UpdatePlan& plan = run.plans[i];
    // ExtractEntry takes at most kPathCapacity - 1 bytes; a longer
    // destination is a write that cannot be done, and no file that exists:
    // with OverwriteOnly it is skipped like any missing destination.
    if (!CopyText(run.value, updaterState.installPath) || !JoinPath(run.value, item.path) ||
        !CopyText(destination, kPathCapacity, run.value)) {
      plan = run.overwriteOnly ? UpdatePlan::Skip : UpdatePlan::CannotWrite;
      continue;
    }
    DWORD attributes = SysGetFileAttributes(destination);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool folder = exists && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (run.overwriteOnly && (!exists || folder)) {
      plan = UpdatePlan::Skip;
      continue;
    }
    if (folder) {
      plan = UpdatePlan::Attempt;
      continue;
    }
    // A destination written earlier in this run has its original aside already.
    bool recorded = SameDestination(run, i) ||
                    (exists ? JournalMoveAside(destination) : JournalCreated(destination, false));
    plan = recorded ? UpdatePlan::Write : UpdatePlan::CannotWrite;
    if (recorded) total += EntrySize(item.path + item.nameOffset);
  }
  if (!JournalApply())
    for (int i = 0; i < run.lists.updateCount; ++i)
      if (run.plans[i] == UpdatePlan::Write) run.plans[i] = UpdatePlan::CannotWrite;
  return total;
}

void PieceWritten(uint32_t bytes) { ProgressAdvance(bytes); }

// Writes one package entry at its place in the installation, as planned.
// False after a failure has been reported.
bool WriteUpdateItem(Run& run, int i) {
  const UpdateItem& item = run.lists.updates[i];
  switch (run.plans[i]) {
    case UpdatePlan::Skip:
      return true;
    case UpdatePlan::CannotWrite:
      ShowUpdateError(kTextWriteFailed);
      return false;
    case UpdatePlan::Attempt:
    case UpdatePlan::Write:
      break;
  }
  bool journaled = run.plans[i] == UpdatePlan::Write;
  extractionObserver = {journaled, PieceWritten};
  int written = ExtractEntry(item.path + item.nameOffset, run.destinations[i]);
  extractionObserver = {false, nullptr};
  if (!written || !journaled) {
    ShowUpdateError(kTextWriteFailed);
    return false;
  }
  return true;
}

// Looks through the CD-ROM drives, A to Z, for the one that holds disc's
// check file, asking the user to insert the disc until it is found. False
// when the user cancels.
bool FindDisc(Run& run, int32_t disc) {
  const char* checkFile = installDescription.diskCheckFiles[disc];
  for (;;) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const char root[3] = {letter, ':', '\0'};
      if (SysGetDriveType(root) != DRIVE_CDROM) continue;
      // The value buffer holds any root and check file, so the join fits.
      CopyText(run.value, root);
      if (JoinPath(run.value, checkFile) &&
          SysGetFileAttributes(run.value) != INVALID_FILE_ATTRIBUTES) {
        CopyText(run.sourceRoot, root);
        run.sourceRootSet = true;
        return true;
      }
    }
    FormatText(run.value, kTextInsertDisc, updaterState.gameTitle, disc);
    if (SysMessageBox(run.dialog, run.value, updaterState.caption, MB_OKCANCEL) != IDOK)
      return false;
  }
}

// Copies one item from its disc (or from the folder of an earlier disc or of
// the program). Returns the outcome that ends the run, or Completed to go on.
UpdateOutcome CopyItemFromDisc(Run& run, const CopyItem& item) {
  if (item.disc < 0 || item.disc >= kDiscCount) return CopyFailure(run, item);
  if (item.disc != 0) {
    if (!FindDisc(run, item.disc)) return FailureExit(run);
  } else if (!run.sourceRootSet) {
    // No disc yet in this run: the item lies beside the updater, which may
    // itself have come on a disc or in a folder with extra files.
    if (!SysGetModuleFolder(run.sourceRoot, kPathCapacity)) return CopyFailure(run, item);
    run.sourceRootSet = true;
  }

  bool sourceIsFolder = true;
  if (!CopyText(run.source, run.sourceRoot) || !JoinPath(run.source, item.path) ||
      !CopyAsList(run.destination, updaterState.installPath))
    return CopyFailure(run, item);
  // Attributes that cannot be read have every bit set: a missing source is
  // copied as a folder and fails in the shell.
  if (!(SysGetFileAttributes(run.source) & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!JoinPath(run.destination, item.path)) return CopyFailure(run, item);
    sourceIsFolder = false;
  }

  uint64_t bytes = 0;
  if (!JournalShellCopy(run.source, run.destination, sourceIsFolder, &bytes) || !JournalApply())
    return CopyFailure(run, item);
  ProgressAddTotal(bytes);

  SetStatusText(run.dialog, kTextCopying, item.path);
  switch (ShellCopy(run.dialog, run.source, run.destination, sourceIsFolder)) {
    case ShellCopyDone:
      ProgressAdvance(bytes);
      return UpdateOutcome::Completed;
    case ShellCopyAborted:
      return FailureExit(run);
    default:
      return CopyFailure(run, item);
  }
}

UpdateOutcome RunWith(Run& run) {
  HWND dialog = run.dialog;

  if (CheckDiskSpace(ReadUpdateInt(run, "RequiredDiskSpace"), updaterState.installPath,
                     run.value)) {
    SetStatusText(dialog, "%s", run.value);
    SetButtons(dialog, true, false, true);
    return UpdateOutcome::Shortage;
  }

  SetStatusText(dialog, kTextRunning);
  SetButtons(dialog, false, false, false);
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));

  run.overwriteOnly = ReadUpdateInt(run, "OverwriteOnly") != 0;
  ReadUpdateLists(ReadUpdateValue, nullptr, updaterState.installMode, run.lists);
  const UpdateLists& lists = run.lists;
  if (!lists.anyUpdateKey && !lists.anyCopyKey) {
    ShowUpdateError(kTextNoLists);
    return FailureExit(run);
  }
  if (lists.updateCount == 0 && lists.copyCount == 0) {
    ShowUpdateError(kTextNothingToUpdate);
    return Completion(run);
  }

  // From here on every change to the installation is journaled first.
  JournalBegin(updaterState.installPath);
  ProgressBegin(dialog, PlanUpdateItems(run));
  for (int i = 0; i < lists.updateCount; ++i) {
    if (!WriteUpdateItem(run, i)) return FailureExit(run);
    PumpMessages();
  }
  for (int i = 0; i < lists.copyCount; ++i) {
    UpdateOutcome outcome = CopyItemFromDisc(run, lists.copies[i]);
    if (outcome != UpdateOutcome::Completed) return outcome;
  }
  return Completion(run);
}

}  // namespace

bool CheckDiskSpace(uint32_t required, const char* installPath, char (&text)[kTextCapacity]) {
  char drive[3];
  if (required == 0 || !PathDrive(installPath, drive)) return false;
  uint64_t available = 0, total = 0;
  if (!QueryFreeSpace(drive, &available, &total, nullptr)) return false;
  uint32_t shortfall = SpaceShortfall(required, available);
  if (shortfall == 0) return false;
  FormatShortageText(text, drive, shortfall, true);
  return true;
}

int ShellCopy(HWND owner, const char* source, const char* destination, bool sourceIsFolder) {
  unsigned flags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
  if (sourceIsFolder) flags |= FOF_NOERRORUI;
  bool aborted = false;
  int result = SysShellCopy(owner, source, destination, flags, &aborted);
  if (aborted) return ShellCopyAborted;
  if (result != 0) return ShellCopyFailed;
  SysSetFileAttributes(destination, FILE_ATTRIBUTE_NORMAL);
  return ShellCopyDone;
}

UpdateOutcome RunUpdate(HWND dialog) {
  Run run{};
  run.dialog = dialog;
  return RunWith(run);
}

#include "wizard/update_run.h"

#include "app/updater_state.h"
#include "base/system.h"
#include "config/error_boxes.h"
#include "config/ini_access.h"
#include "config/install_description.h"
#include "config/join_path.h"
#include "config/tokenizer.h"
#include "engine/update_sequence.h"
#include "package/extract_entry.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "wizard/run_progress.h"
#include "wizard/wizard.h"

namespace {

// The run's file work (the journal's buffer among it): one run at a time.
UpdateEngine engine;

// The working state of one run; a run after a shortage starts from scratch.
struct Run {
  HWND dialog;
  char value[kTextCapacity];  // INI values, the disc prompt
  bool overwriteOnly;
  UpdateLists lists;
  char failure[kTextCapacity];  // shown before the dialog ends, when set
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

UpdateOutcome FailureExit(Run& run) {
  ProgressFailing();
  if (run.failure[0]) ShowUpdateError(run.failure);
  // The installation goes back to what it was before the run; a restore
  // that cannot be finished keeps the journal for the next start.
  RollbackUpdate(&engine);
  ProgressEnd();
  EndDialog(run.dialog, -1);
  return UpdateOutcome::Failed;
}

UpdateOutcome CopyFailure(Run& run, const CopyItem& item) {
  FormatText(run.failure, kTextCopyFailed, item.path);
  return FailureExit(run);
}

UpdateOutcome WriteFailure(Run& run) {
  ProgressFailing();
  ShowUpdateError(kTextWriteFailed);
  return FailureExit(run);
}

// The completed run (recorded by the engine), or one with nothing to do.
UpdateOutcome Completion(Run& run) {
  HWND dialog = run.dialog;
  ProgressEnd();
  SetStatusText(dialog, kTextCompleted);
  SysSetDlgItemText(dialog, IDC_NEXT, kTextFinishButton);
  EnableButton(dialog, IDC_NEXT, true);
  SetFocus(GetDlgItem(dialog, IDC_NEXT));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  return UpdateOutcome::Completed;
}

void PieceWritten(void*, uint32_t bytes) { ProgressAdvance(bytes); }

// The run's progress: the bar and the window's messages after every piece.
const Progress progress{PieceWritten, nullptr};

// Looks through the CD-ROM drives, A to Z, for the one that holds disc's
// check file, asking the user to insert the disc until it is found. False
// when the user cancels.
bool FindDisc(void* context, int32_t disc, char (&root)[kPathCapacity]) {
  Run& run = *static_cast<Run*>(context);
  const char* checkFile = installDescription.diskCheckFiles[disc];
  for (;;) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      const char drive[3] = {letter, ':', '\0'};
      if (SysGetDriveType(drive) != DRIVE_CDROM) continue;
      // The value buffer holds any root and check file, so the join fits.
      CopyText(run.value, drive);
      if (JoinPath(run.value, checkFile) &&
          SysGetFileAttributes(run.value) != INVALID_FILE_ATTRIBUTES) {
        CopyText(root, drive);
        return true;
      }
    }
    FormatText(run.value, kTextInsertDisc, updaterState.gameTitle, disc);
    ProgressPause();
    bool inserted = SysMessageBox(run.dialog, run.value, updaterState.caption, MB_OKCANCEL) == IDOK;
    ProgressResume();
    if (!inserted) return false;
  }
}

bool ProgramFolder(void*, char (&root)[kPathCapacity]) {
  return SysGetModuleFolder(root, kPathCapacity);
}

void Begun(void* context, uint64_t totalBytes) {
  ProgressBegin(static_cast<Run*>(context)->dialog, totalBytes);
}
void ItemWritten(void*) { PumpMessages(); }
// While a copy runs, the wizard's Cancel button aborts it (the wizard's
// procedure hears the click between two pieces).
bool copyCancelRequested = false;

void CopyPlanned(void* context, const CopyItem& item, uint64_t bytes) {
  HWND dialog = static_cast<Run*>(context)->dialog;
  ProgressAddTotal(bytes);
  SetStatusText(dialog, kTextCopying, item.path);
  copyCancelRequested = false;
  EnableButton(dialog, IDC_CANCEL, true);
}
void CopyEnded(void* context) {
  EnableButton(static_cast<Run*>(context)->dialog, IDC_CANCEL, false);
  copyCancelRequested = false;
}
bool CopyCancelled(void*) { return copyCancelRequested; }
// A disc's file that cannot be read: Retry or Cancel.
bool RetryRead(void* context, const char* path) {
  Run& run = *static_cast<Run*>(context);
  FormatText(run.value, kTextDiscReadError, path);
  ProgressPause();
  bool retry = SysMessageBox(run.dialog, run.value, updaterState.caption, MB_RETRYCANCEL | MB_ICONWARNING) ==
               IDRETRY;
  ProgressResume();
  return retry;
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
  engine.journal.file = nullptr;  // nothing to complete or undo yet
  if (!lists.anyUpdateKey && !lists.anyCopyKey) {
    ShowUpdateError(kTextNoLists);
    return FailureExit(run);
  }
  if (lists.updateCount == 0 && lists.copyCount == 0) {
    ShowUpdateError(kTextNothingToUpdate);
    return Completion(run);
  }

  // A run that cannot begin (an item that lands outside the installation
  // folder, a work folder already there) changes nothing and says so with
  // that item's failure.
  const RunHooks hooks{&run,          &progress,   Begun,     ItemWritten,   FindDisc,
                       ProgramFolder, CopyPlanned, CopyEnded, CopyCancelled, RetryRead};
  RunResult result = RunUpdateItems(&engine, updaterState.installPath, OwnPackage(), lists,
                                    run.overwriteOnly, hooks);
  switch (result.end) {
    case RunEnd::Completed:
      return Completion(run);
    case RunEnd::Refused:
      return result.refusal.copyItem ? CopyFailure(run, lists.copies[result.index])
                                     : WriteFailure(run);
    case RunEnd::WriteFailed:
      ProgressFailing();
      ShowEntryWriteBoxes(result.report);
      return WriteFailure(run);
    case RunEnd::CopyFailed:
      return CopyFailure(run, lists.copies[result.index]);
    case RunEnd::Cancelled:
      return FailureExit(run);
    case RunEnd::NotRecorded:
      return WriteFailure(run);
  }
  return FailureExit(run);
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

void RequestCopyCancel(HWND dialog) {
  if (IsWindowEnabled(GetDlgItem(dialog, IDC_CANCEL))) copyCancelRequested = true;
}

UpdateOutcome RunUpdate(HWND dialog) {
  Run run{};
  run.dialog = dialog;
  return RunWith(run);
}

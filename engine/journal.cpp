#include "engine/journal.h"

#include <cstring>

#include "config/join_path.h"
#include "engine/paths.h"
#include "engine/places.h"
#include "package/block.h"
#include "package/entry_name.h"

const char* const kJournalName = "~UPDATE.JNL";
const char* const kWorkFolderName = "~UPDATE.TMP";

namespace {

constexpr uint64_t kLargestJournal = 64u << 20;

bool Append(Journal* journal, const JournalRecord& record);

bool RecordTimes(Journal* journal, const char* folder, const char* place, const FsTimes& times) {
  JournalRecord record{JournalKind::FolderTimes,
                       true,
                       0,
                       {times.created, times.accessed, times.written},
                       folder,
                       "",
                       place,
                       ""};
  return Append(journal, record);
}

bool Append(Journal* journal, const JournalRecord& record) {
  // The installation folder's times come first: every run changes it.
  if (!journal->rootTimesRecorded) {
    journal->rootTimesRecorded = true;
    char parent[kPlaceCapacity];
    ParentPlace(journal->rootPlace, parent);
    if (!journal->rootTimesKnown ||
        !RecordTimes(journal, journal->root, parent, journal->rootTimes))
      return false;
  }
  if (kJournalPending - journal->pendingSize < kJournalRecordMax && !JournalApply(journal))
    return false;
  size_t length = EncodeJournalRecord(record, journal->pending + journal->pendingSize);
  journal->pendingSize += length;
  return length != 0;
}

// Records the times of the folder that holds path (which lies at place)
// before its first change in this run; the installation folder's come with
// the first record. A folder the run creates goes whole. A run that changes
// more than kTimedFolders folders gets the first ones' times back.
bool RecordFolderTimes(Journal* journal, const char* path, const char* place) {
  char folder[kPathCapacity];
  size_t length = FolderLength(path);
  if (length < 2 || !CopyText(folder, path)) return true;
  folder[length - 1] = '\0';
  if (!PathInside(journal->root, folder)) return true;  // the installation folder itself
  for (size_t i = 0; i < journal->timedFolderCount; ++i)
    if (SameEntryName(folder, journal->timedFolders[i])) return true;
  // Times that cannot be read could not be given back: the change is not
  // made. (A folder that is not there is the item's own failure.)
  FsInfo info;
  FsFailure why = FsFailure::None;
  if (journal->timedFolderCount == kTimedFolders) return true;
  if (!FsGetInfo(folder, &info, &why)) return why == FsFailure::NotFound;
  if (!(info.attributes & kFsFolder)) return true;
  if (!InfoOf(folder, &info)) return false;
  CopyText(journal->timedFolders[journal->timedFolderCount++], folder);
  char parent[kPlaceCapacity];
  ParentPlace(place, parent);
  return RecordTimes(journal, folder, parent, info.times);
}

bool OpenJournal(Journal* journal) {
  if (journal->file) return true;
  // Not shared: a second updater that finds it open leaves it alone. The
  // records reach the disk by a flush after each batch.
  FsFile* file = nullptr;
  PlaceCheck check{journal->root, journal->rootPlace};
  if (OpenInPlace(check, journal->path, journal->rootPlace, FsMode::Create, &file) != Opened::Ok)
    return false;
  journal->file = file;
  // Only this user, Administrators and the system may change it, whatever
  // the game folder lets others do: the next start trusts no other journal.
  if (!FsMakePrivate(file)) return false;
  // The header goes with the first records (the installation folder's
  // times first), all flushed before the first change: a journal whose
  // header is not on the disk (zeros where a power cut lost the batch) then
  // proves that that flush never ended, and so that nothing was changed.
  return FsWrite(file, kJournalHeader, kJournalHeaderSize);
}

// True when the journal's first bytes are zeros: its header never reached
// the disk.
bool HeaderLost(const uint8_t* bytes) {
  for (size_t i = 0; i < kJournalHeaderSize; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// --- restoring ---------------------------------------------------------------

// Later: a completed run's originals could not all be dropped yet; the
// installation is the new one, and the journal stays to finish the drop.
// Shared: the work folder is one that others may change: nothing is done.
enum class Step { Done, Failed, Elsewhere, Later, Shared };

Step FromOpened(Opened opened) {
  return opened == Opened::Gone        ? Step::Done
         : opened == Opened::Elsewhere ? Step::Elsewhere
                                       : Step::Failed;
}

// The folder at folder (which lies in the folder at place) with everything
// in it, all of it the run's; each entry only while it lies in that folder.
// The folder is not held open while it is listed: the system's listing may
// not share it with a handle that can delete it.
Step RemoveFolder(const PlaceCheck& check, const char* folder, const char* place) {
  char where[kPlaceCapacity];
  FsFile* file = nullptr;
  Opened opened = OpenInPlace(check, folder, place, FsMode::Look, &file);
  if (opened != Opened::Ok) return FromOpened(opened);
  FsWhereResult known = FsWhere(file, where);
  FsClose(file);
  if (known == FsWhereResult::Failed) return Step::Failed;
  if (known == FsWhereResult::Unknown) where[0] = '\0';
  Step result = Step::Done;
  FsEntry entry;
  FsListing* listing = FsListOpen(folder);
  FsListed listed = listing ? FsListed::Entry : FsListed::Failed;
  while (listing && result != Step::Elsewhere &&
         (listed = FsListNext(listing, &entry)) == FsListed::Entry) {
    char inner[kPathCapacity];
    if (!entry.spelled || !CopyText(inner, folder) || !JoinPath(inner, entry.name)) {
      result = Step::Failed;
      continue;
    }
    Step step;
    if (entry.info.attributes & kFsFolder) {
      step = RemoveFolder(check, inner, where);
    } else {
      FsFile* innerFile = nullptr;
      opened = OpenInPlace(check, inner, where, FsMode::Change, &innerFile);
      step = opened == Opened::Ok
                 ? (DeleteOpened(innerFile, &entry.info.attributes) ? Step::Done : Step::Failed)
                                  : FromOpened(opened);
    }
    if (step != Step::Done) result = step;
  }
  if (listing) FsListClose(listing);
  if (listed == FsListed::Failed && result == Step::Done) result = Step::Failed;
  if (result != Step::Done) return result;
  opened = OpenInPlace(check, folder, place, FsMode::Change, &file);
  if (opened != Opened::Ok) return FromOpened(opened);
  return DeleteOpened(file) ? Step::Done : Step::Failed;
}

FsTimes TimesOf(const JournalRecord& record) {
  return {record.times[0], record.times[1], record.times[2]};
}

// Each step may have been taken already by a restore that was interrupted.
Step TakeStep(const PlaceCheck& check, const RestoreStep& step) {
  const JournalRecord& record = step.record;
  FsFile* file = nullptr;
  Opened opened;
  switch (step.action) {
    case RestoreAction::PutBack: {
      // No file aside: it was never moved, or it is back already.
      opened = OpenInPlace(check, record.aside, record.asidePlace, FsMode::Change, &file);
      if (opened != Opened::Ok) return FromOpened(opened);
      FsFile* current = nullptr;
      Opened there = OpenInPlace(check, record.path, record.place, FsMode::Change, &current);
      Step cleared = there == Opened::Ok     ? (DeleteOpened(current) ? Step::Done : Step::Failed)
                     : there == Opened::Gone ? Step::Done
                                             : FromOpened(there);
      // The name is free: the file goes into its folder, opened and checked
      // to lie where it was, by that folder's handle, and is checked to lie
      // there after the move.
      char folder[kPathCapacity];
      size_t folderLength = FolderLength(record.path);
      FsFile* into = nullptr;
      if (cleared == Step::Done && (folderLength < 2 || !CopyText(folder, record.path)))
        cleared = Step::Failed;
      if (cleared == Step::Done) {
        folder[folderLength - 1] = '\0';
        if (OpenFolderInPlace(check, folder, record.place, &into) != Opened::Ok)
          cleared = Step::Elsewhere;
      }
      bool moved = cleared == Step::Done &&
                   FsRenameInto(file, into, record.path + folderLength, record.path);
      if (moved && !LiesIn(file, record.place)) cleared = Step::Elsewhere;
      FsClose(into);
      if (cleared != Step::Done || !moved) {
        FsClose(file);
        return cleared != Step::Done ? cleared : Step::Failed;
      }
      // A rename keeps the contents, times and attributes; the times are
      // given again because a name that was just deleted can hand its own
      // creation time to the file that takes it.
      FsTimes times = TimesOf(record);
      bool ok = FsSetInfo(file, record.attributes ? record.attributes : kFsNormal, &times);
      return FsClose(file) && ok ? Step::Done : Step::Failed;
    }
    case RestoreAction::RemoveCreated: {
      if (record.folder) return RemoveFolder(check, record.path, record.place);
      opened = OpenInPlace(check, record.path, record.place, FsMode::Change, &file);
      if (opened != Opened::Ok) return FromOpened(opened);
      return DeleteOpened(file) ? Step::Done : Step::Failed;
    }
    case RestoreAction::PutAttributes: {
      opened = OpenInPlace(check, record.path, record.place, FsMode::Change, &file);
      if (opened != Opened::Ok) return FromOpened(opened);
      bool ok = FsSetInfo(file, record.attributes ? record.attributes : kFsNormal, nullptr);
      return FsClose(file) && ok ? Step::Done : Step::Failed;
    }
    case RestoreAction::DeleteAside:
      // An original kept aside has the attributes the journal holds.
      opened = OpenInPlace(check, record.aside, record.asidePlace, FsMode::Change, &file);
      if (opened != Opened::Ok) return FromOpened(opened);
      return DeleteOpened(file, &record.attributes) ? Step::Done : Step::Failed;
    case RestoreAction::RemoveEmpty:
      // Never with anything in it: an original that could not be put back stays.
      opened = OpenInPlace(check, record.path, record.place, FsMode::Change, &file);
      if (opened != Opened::Ok) return FromOpened(opened);
      return FsDelete(file) ? Step::Done : Step::Failed;
    case RestoreAction::PutFolderTimes: {
      // Only the times: not worth keeping the journal for when they fail.
      opened = OpenInPlace(check, record.path, record.place, FsMode::Change, &file);
      if (opened != Opened::Ok) return opened == Opened::Elsewhere ? Step::Elsewhere : Step::Done;
      FsTimes times = TimesOf(record);
      FsSetInfo(file, 0, &times);
      FsClose(file);
      return Step::Done;
    }
  }
  return Step::Failed;
}

// True when the plan takes files from the work folder and that folder is
// one that others may change (what lies in it would not be the originals).
bool WorkFolderShared(const char* root, const RestoreStep* steps, size_t count) {
  bool fromWorkFolder = false;
  for (size_t i = 0; i < count; ++i)
    fromWorkFolder = fromWorkFolder || steps[i].action == RestoreAction::PutBack ||
                     steps[i].action == RestoreAction::DeleteAside ||
                     steps[i].action == RestoreAction::RemoveEmpty;
  char folder[kPathCapacity];
  if (!fromWorkFolder || !CopyText(folder, root) || !JoinPath(folder, kWorkFolderName)) return false;
  FsFile* file = FsOpen(folder, FsMode::Look);
  if (!file) return false;  // gone: nothing of it to trust
  bool shared = FsAccessOf(file) == FsAccess::Shared;
  FsClose(file);
  return shared;
}

// The installation folder's times as the plan gives them back, to be given
// once more after the journal is gone (deleting it changes them).
struct RootTimes {
  bool known;
  FsTimes times;
  char place[kPlaceCapacity];
};

// Reads the open journal whole and takes its restore plan: Done, Failed (a
// step could not be taken; the steps unrelated to it were), Later (a completed
// run's originals could not all be dropped) or Elsewhere (the journal is not
// this installation's, or a place changed; the restore stopped there).
Step RestoreFrom(const PlaceCheck& check, FsFile* file, RootTimes* rootTimes) {
  rootTimes->known = false;
  FsInfo info;
  if (!FsFileInfo(file, &info) || info.size > kLargestJournal) return Step::Elsewhere;
  // A journal cut short inside its header: nothing was changed yet.
  if (info.size < kJournalHeaderSize) return Step::Done;
  uint32_t size = static_cast<uint32_t>(info.size);
  uint8_t* bytes = static_cast<uint8_t*>(AllocBlock(size));
  size_t capacity = MaxRestoreSteps(size);
  RestoreStep* steps =
      static_cast<RestoreStep*>(AllocBlock(static_cast<uint32_t>(capacity * sizeof(RestoreStep))));
  Step result = Step::Failed;
  uint32_t read = 0;
  size_t count = 0;
  if (bytes && steps && FsRead(file, 0, bytes, size, &read) && read == size) {
    if (HeaderLost(bytes)) {
      result = Step::Done;
    } else if (!PlanRestore(bytes, size, check.root, steps, &count)) {
      result = Step::Elsewhere;
    } else if (WorkFolderShared(check.root, steps, count)) {
      result = Step::Shared;
    } else {
      // A completed run's plan only drops what it kept aside: a step of it
      // that fails (a scanner may hold an original) can wait for the next
      // start, for the installation is whole and new.
      bool completed = true;
      for (size_t i = 0; i < count; ++i)
        completed = completed && (steps[i].action == RestoreAction::DeleteAside ||
                                  steps[i].action == RestoreAction::RemoveEmpty);
      // The worst outcome of any step is the restore's.
      auto rank = [](Step s) { return s == Step::Done ? 0 : s == Step::Later ? 1 : s == Step::Failed ? 2 : 3; };
      // An undo goes on past a step that fails, for as much of the game as
      // can be put back, but takes no later step on that step's path or a
      // path in or around it: the next start takes every step again in
      // order (each one taken twice is taken once), and a later step taken
      // now would be undone by the failed one then (an earlier version of a
      // file twice written over put back, then the later one over it).
      // Beyond kHeldPaths failures it stops.
      constexpr size_t kHeldPaths = 16;
      const char* held[kHeldPaths];
      size_t heldCount = 0;
      result = Step::Done;
      for (size_t i = 0; i < count && result != Step::Elsewhere && heldCount < kHeldPaths; ++i) {
        const char* path = steps[i].record.path;
        bool related = false;
        for (size_t h = 0; h < heldCount && !related; ++h)
          related = SameEntryName(held[h], path) || PathInside(held[h], path) || PathInside(path, held[h]);
        if (related) continue;
        Step step = TakeStep(check, steps[i]);
        if (step == Step::Failed && !completed) held[heldCount++] = path;
        if (step == Step::Failed && completed) step = Step::Later;
        if (rank(step) > rank(result)) result = step;
        const JournalRecord& record = steps[i].record;
        if (steps[i].action == RestoreAction::PutFolderTimes &&
            SameEntryName(record.path, check.root)) {
          rootTimes->known = true;
          rootTimes->times = TimesOf(record);
          CopyText(rootTimes->place, record.place);
        }
      }
    }
  }
  FreeBlock(steps);
  FreeBlock(bytes);
  return result;
}

// Restores (or finishes) from the open journal and deletes it when that is
// done; keeps it for the next start otherwise. A run's own undo knows the
// installation folder's times when its journal does not hold them yet
// (begun, but no record written): given.
Step RestoreAndEnd(const PlaceCheck& check, FsFile* file, const RootTimes* given = nullptr) {
  RootTimes rootTimes;
  Step result = RestoreFrom(check, file, &rootTimes);
  if (!rootTimes.known && given) rootTimes = *given;
  if (result != Step::Done) {
    FsClose(file);
    return result;
  }
  if (!FsDelete(file)) return Step::Failed;
  FsFile* root = nullptr;
  if (rootTimes.known &&
      OpenInPlace(check, check.root, rootTimes.place, FsMode::Change, &root) == Opened::Ok) {
    FsSetInfo(root, 0, &rootTimes.times);
    FsClose(root);
  }
  return Step::Done;
}

Step EndJournal(Journal* journal, bool undo) {
  journal->pendingSize = 0;
  if (!journal->file) return Step::Done;
  FsFile* file = journal->file;
  journal->file = nullptr;
  RootTimes given;
  given.known = journal->rootTimesKnown && undo;
  given.times = journal->rootTimes;
  ParentPlace(journal->rootPlace, given.place);
  return RestoreAndEnd({journal->root, journal->rootPlace}, file, &given);
}

}  // namespace

void WorkFolderOf(const char* installPath, char (&folder)[kPathCapacity]) {
  RecordPathOf(installPath, kWorkFolderName, folder);
}

void RecordPathOf(const char* installPath, const char* name, char (&path)[kPathCapacity]) {
  if (!NormalPath(installPath, path) || !JoinPath(path, name)) path[0] = '\0';
}

bool JournalBegin(Journal* journal, const char* root, const char* rootPlace) {
  journal->file = nullptr;
  journal->undecided = false;
  journal->pendingSize = 0;
  journal->names = 0;
  journal->workFolderRecorded = false;
  journal->rootTimesRecorded = false;
  journal->timedFolderCount = 0;
  if (!CopyText(journal->root, root) || !CopyText(journal->rootPlace, rootPlace) ||
      !CopyText(journal->path, root) || !JoinPath(journal->path, kJournalName) ||
      !CopyText(journal->workFolder, root) || !JoinPath(journal->workFolder, kWorkFolderName))
    return false;
  // The originals' names ("~FU00000.TMP", shorter where the installation's
  // path leaves less room) come from a counter: nothing else is in the
  // folder the run makes.
  size_t used = TextLength(journal->workFolder) + 1;  // with the separator
  if (used + 2 >= kPathCapacity) return false;
  journal->nameRoom = kPathCapacity - 1 - used < 12 ? kPathCapacity - 1 - used : 12;
  journal->workPlace[0] = '\0';
  if (rootPlace[0] &&
      (!CopyText(journal->workPlace, rootPlace) || !AppendText(journal->workPlace, "\\") ||
       !AppendText(journal->workPlace, kWorkFolderName)))
    return false;
  FsInfo info;
  journal->rootTimesKnown = InfoOf(root, &info);
  journal->rootTimes = info.times;
  FsFailure why = FsFailure::None;
  return !FsGetInfo(journal->workFolder, &info, &why) && why == FsFailure::NotFound;
}

bool JournalMoveAside(Journal* journal, const char* path, const char* place, const FsInfo& info) {
  if (!journal->workFolderRecorded) {
    journal->workFolderRecorded = true;
    if (!Append(journal, {JournalKind::AsideFolder,
                          true,
                          0,
                          {},
                          journal->workFolder,
                          "",
                          journal->rootPlace,
                          ""}))
      return false;
  }
  char aside[kPathCapacity], name[16];
  TemporaryName(name, "~FU", journal->names++, journal->nameRoom);
  if (!CopyText(aside, journal->workFolder) || !JoinPath(aside, name)) return false;
  JournalRecord record{JournalKind::MovedAside,
                       false,
                       info.attributes,
                       {info.times.created, info.times.accessed, info.times.written},
                       path,
                       aside,
                       place,
                       journal->workPlace};
  return RecordFolderTimes(journal, path, place) && Append(journal, record);
}

bool JournalCreated(Journal* journal, const char* path, const char* place, bool folder) {
  return RecordFolderTimes(journal, path, place) &&
         Append(journal, {JournalKind::Created, folder, 0, {}, path, "", place, ""});
}

bool JournalAttributes(Journal* journal, const char* path, const char* place, uint32_t attributes) {
  return Append(journal, {JournalKind::Attributes, false, attributes, {}, path, "", place, ""});
}

bool JournalApply(Journal* journal) {
  if (journal->pendingSize == 0) return true;
  size_t size = journal->pendingSize;
  journal->pendingSize = 0;
  if (!OpenJournal(journal) ||
      !FsWrite(journal->file, journal->pending, static_cast<uint32_t>(size)) ||
      !FsFlush(journal->file))
    return false;
  // Originals go into the work folder by its handle, opened and checked
  // once per batch, and are checked to lie there after the move.
  PlaceCheck check{journal->root, journal->rootPlace};
  JournalReader reader{journal->pending, size, 0};
  JournalRecord record;
  FsFile* workFolder = nullptr;
  bool ok = true;
  size_t asideName = TextLength(journal->workFolder) + 1;
  while (ok && NextJournalRecord(&reader, &record)) {
    if (record.kind == JournalKind::AsideFolder) ok = FsCreateFolder(record.path, true);
    if (record.kind != JournalKind::MovedAside) continue;
    if (!workFolder && OpenFolderInPlace(check, journal->workFolder, journal->workPlace,
                                         &workFolder) != Opened::Ok)
      ok = false;
    FsFile* file = nullptr;
    if (!ok || OpenInPlace(check, record.path, record.place, FsMode::Change, &file) != Opened::Ok) {
      ok = false;
      continue;
    }
    ok = TextLength(record.aside) > asideName &&
         FsRenameInto(file, workFolder, record.aside + asideName, record.aside) &&
         LiesIn(file, journal->workPlace);
    ok = FsClose(file) && ok;
  }
  FsClose(workFolder);
  return ok;
}

bool JournalCommit(Journal* journal) {
  journal->pendingSize = 0;
  if (!journal->file) return true;
  uint8_t record[kJournalRecordMax];
  size_t length = EncodeJournalRecord(
      {JournalKind::Committed, false, 0, {}, journal->root, "", "", ""}, record);
  // Every change the run made, down to the last attribute, on the disk
  // before the record that keeps them: a disk may write the record's data
  // before what the system noted of names and attributes without a flush.
  if (!FsFlush(journal->file)) return false;
  // Once this record is on the disk the new files stay, whatever happens.
  if (!FsWrite(journal->file, record, static_cast<uint32_t>(length))) return false;
  if (FsFlush(journal->file)) {
    EndJournal(journal, false);
    return true;
  }
  // The mark may reach the disk later all the same: it is taken back, on
  // the disk, before the run is undone. Where that fails too, an undo
  // begun now could meet the mark after a crash, which would drop the
  // originals it had not yet put back: nothing is done, and the next start
  // goes by what the disk holds.
  length = EncodeJournalRecord({JournalKind::Retracted, false, 0, {}, journal->root, "", "", ""},
                               record);
  journal->undecided =
      !FsWrite(journal->file, record, static_cast<uint32_t>(length)) || !FsFlush(journal->file);
  return false;
}

bool JournalRollback(Journal* journal) {
  if (journal->undecided) {
    journal->undecided = false;
    journal->pendingSize = 0;
    FsClose(journal->file);
    journal->file = nullptr;
    return false;
  }
  return EndJournal(journal, true) == Step::Done;
}

Recovery RecoverInstallation(const char* installPath) {
  char root[kPathCapacity], path[kPathCapacity], rootPlace[kPlaceCapacity];
  if (!NormalPath(installPath, root) || !CopyText(path, root) || !JoinPath(path, kJournalName))
    return Recovery::NoJournal;
  FsInfo info;
  if (!FsGetInfo(path, &info)) return Recovery::NoJournal;
  if (!FolderPlace(root, rootPlace)) return Recovery::CannotUndo;
  PlaceCheck check{root, rootPlace};
  FsFile* file = nullptr;
  switch (OpenInPlace(check, path, rootPlace, FsMode::Own, &file)) {
    case Opened::Ok:
      break;
    case Opened::Gone:
      return Recovery::NoJournal;
    case Opened::InUse:
      return Recovery::HeldByRun;
    case Opened::Elsewhere:
    case Opened::Failed:
      return Recovery::CannotUndo;
  }
  // A journal that others may have written is not this updater's.
  if (FsAccessOf(file) == FsAccess::Shared) {
    FsClose(file);
    return Recovery::SharedJournal;
  }
  switch (RestoreAndEnd(check, file)) {
    case Step::Done: return Recovery::Restored;
    case Step::Later: return Recovery::DropPending;
    case Step::Shared: return Recovery::SharedWorkFolder;
    default: return Recovery::CannotUndo;
  }
}

#include "engine/update_engine.h"

#include <cstring>

#include "config/join_path.h"
#include "engine/paths.h"
#include "engine/places.h"
#include "package/block.h"
#include "package/entry_name.h"
#include "package/open_package.h"

namespace {

PlaceCheck CheckOf(const UpdateEngine* engine) { return {engine->root, engine->rootPlace}; }

// path's folder (path without its last name and separator).
bool FolderOf(const char* path, char (&folder)[kPathCapacity]) {
  size_t length = FolderLength(path);
  if (length < 2 || !CopyText(folder, path)) return false;
  folder[length - 1] = '\0';
  return true;
}

// Where folder lies, when it does lie inside the installation as the system
// resolves it (the installation folder itself included).
bool InstallationPlace(const UpdateEngine* engine, const char* folder,
                       char (&place)[kPlaceCapacity]) {
  if (!FolderPlace(folder, place)) return false;
  if (!place[0] || !engine->rootPlace[0]) return place[0] == engine->rootPlace[0];
  return PlaceInside(engine->rootPlace, place, true);
}

uint64_t EntrySize(const PackageView& package, const char* name) {
  uint32_t index = 0;
  return FindEntry(package.package, name, &index) ? package.package->entries[index].originalSize
                                                  : 0;
}

// Whether an earlier item writes the same file. Compared as the file system
// compares names, the same on every system code page.
bool SameDestination(const UpdateEngine* engine, int i) {
  for (int j = 0; j < i; ++j)
    if ((engine->plans[j] == ItemPlan::Write || engine->plans[j] == ItemPlan::Rewrite) &&
        SameEntryName(engine->destinations[j], engine->destinations[i]))
      return true;
  return false;
}

// Where each update item lands and where its folder lies. Refuses the run
// for an item that lands outside the installation, as written or through a
// link on the way; a destination that does not fit, or whose folder does
// not exist, is left for the item's turn.
Refusal PlaceUpdateItems(UpdateEngine* engine, const UpdateLists& lists) {
  char lastFolder[kPathCapacity], lastPlace[kPlaceCapacity];
  lastFolder[0] = lastPlace[0] = '\0';
  bool lastFound = false;
  for (int i = 0; i < lists.updateCount; ++i) {
    char(&destination)[kPathCapacity] = engine->destinations[i];
    PathPlace where = ResolveInside(engine->root, lists.updates[i].path, destination);
    if (where == PathPlace::Outside) return {true, false, i};
    engine->placed[i] = false;
    if (where == PathPlace::TooLong) {
      destination[0] = '\0';
      continue;
    }
    char folder[kPathCapacity];
    FolderOf(destination, folder);
    if (!SameEntryName(folder, lastFolder)) {
      CopyText(lastFolder, folder);
      lastFound = FolderPlace(folder, lastPlace);
      if (lastFound && lastPlace[0] && engine->rootPlace[0] &&
          !PlaceInside(engine->rootPlace, lastPlace, true))
        return {true, false, i};
    }
    // No such folder: nothing is written there, and the item fails in its turn.
    engine->placed[i] = lastFound;
    CopyText(engine->places[i], lastPlace);
  }
  for (int j = 0; j < lists.copyCount; ++j) {
    char landing[kPathCapacity];
    if (ResolveInside(engine->root, lists.copies[j].path, landing) == PathPlace::Outside)
      return {true, true, j};
  }
  return {false, false, 0};
}

// Decides how each update item is written and puts it all in the journal.
void PlanUpdateItems(UpdateEngine* engine) {
  for (int i = 0; i < engine->updateCount; ++i) {
    const UpdateItem& item = engine->updates[i];
    const char* destination = engine->destinations[i];
    const char* place = engine->places[i];
    ItemPlan& plan = engine->plans[i];
    // A destination that does not fit is a write that cannot be done, and
    // no file that exists: with OverwriteOnly it is skipped like any other.
    if (!destination[0]) {
      plan = engine->overwriteOnly ? ItemPlan::Skip : ItemPlan::CannotWrite;
      continue;
    }
    FsInfo info;
    FsFailure why = FsFailure::None;
    bool exists = FsGetInfo(destination, &info, &why);
    // Only what is known not to be there is journaled as new: its undo
    // deletes it.
    if (!exists && why != FsFailure::NotFound) {
      plan = ItemPlan::CannotWrite;
      continue;
    }
    // A link in the name's place is not the run's to move or replace.
    if (exists && (info.attributes & kFsLink)) {
      plan = ItemPlan::CannotWrite;
      continue;
    }
    bool folder = exists && (info.attributes & kFsFolder);
    if (engine->overwriteOnly && (!exists || folder)) {
      plan = ItemPlan::Skip;
      continue;
    }
    if (folder || !engine->placed[i]) {
      plan = ItemPlan::Attempt;
      continue;
    }
    // A destination written earlier in this run has its original aside already.
    bool earlier = SameDestination(engine, i);
    bool recorded =
        earlier || (exists ? JournalMoveAside(&engine->journal, destination, place, info)
                           : JournalCreated(&engine->journal, destination, place, false));
    plan = !recorded ? ItemPlan::CannotWrite : earlier ? ItemPlan::Rewrite : ItemPlan::Write;
    if (recorded) engine->totalBytes += EntrySize(engine->package, item.path + item.nameOffset);
  }
  if (!JournalApply(&engine->journal))
    for (int i = 0; i < engine->updateCount; ++i)
      if (engine->plans[i] == ItemPlan::Write || engine->plans[i] == ItemPlan::Rewrite)
        engine->plans[i] = ItemPlan::CannotWrite;
}

// One destination file of a copy, in a folder lying at place: moved aside
// when it exists, created when not. A folder in its place is left to the
// copy, which fails on it.
bool RecordCopiedFile(UpdateEngine* engine, const char* target, const char* place) {
  FsInfo info;
  FsFailure why = FsFailure::None;
  if (!FsGetInfo(target, &info, &why))
    return why == FsFailure::NotFound && JournalCreated(&engine->journal, target, place, false);
  if (info.attributes & kFsLink) return false;
  if (info.attributes & kFsFolder) return true;
  return JournalMoveAside(&engine->journal, target, place, info);
}

// A file copy's destination: the outermost folder on the way that does not
// exist yet is created, with the file in it (the copy makes them); else
// the file itself is recorded.
// The next folder on the way from the installation folder to target, after
// the one ending at *end (start with 0): into folder; false past the last.
bool NextFolderOnTheWay(const UpdateEngine* engine, const char* target, size_t* end,
                        char (&folder)[kPathCapacity]) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(target);
  for (size_t i = *end ? *end + 1 : TextLength(engine->root) + 1; p[i] != '\0'; ++i) {
    if (IsCp932LeadByte(p[i]) && p[i + 1] != '\0') {
      ++i;
      continue;
    }
    if (p[i] != '\\') continue;
    std::memcpy(folder, target, i);
    folder[i] = '\0';
    *end = i;
    return true;
  }
  return false;
}

bool RecordFileCopy(UpdateEngine* engine, const char* target) {
  char folder[kPathCapacity], place[kPlaceCapacity];
  for (size_t end = 0; NextFolderOnTheWay(engine, target, &end, folder);) {
    FsInfo info;
    FsFailure why = FsFailure::None;
    if (FsGetInfo(folder, &info, &why)) continue;
    char parent[kPathCapacity];
    return why == FsFailure::NotFound && FolderOf(folder, parent) &&
           InstallationPlace(engine, parent, place) &&
           JournalCreated(&engine->journal, folder, place, true);
  }
  return FolderOf(target, folder) && InstallationPlace(engine, folder, place) &&
         RecordCopiedFile(engine, target, place);
}

bool JoinedPath(char (&path)[kPathCapacity], const char* folder, const char* name) {
  return CopyText(path, folder) && JoinPath(path, name);
}

// The files and folders of source as they will land in target. A folder that
// does not exist yet is recorded once, and everything in it with it; every
// name must be one that code page 932 spells, so that the journal names
// what the copy makes.
bool RecordFolderCopy(UpdateEngine* engine, const char* source, const char* target, bool inCreated,
                      uint64_t* bytes) {
  bool created = inCreated;
  char place[kPlaceCapacity];
  place[0] = '\0';
  if (!inCreated) {
    FsInfo info;
    FsFailure why = FsFailure::None;
    char parent[kPathCapacity], parentPlace[kPlaceCapacity];
    if (!FsGetInfo(target, &info, &why)) {
      if (why != FsFailure::NotFound || !FolderOf(target, parent) ||
          !InstallationPlace(engine, parent, parentPlace) ||
          !JournalCreated(&engine->journal, target, parentPlace, true))
        return false;
      created = true;
    } else if (!(info.attributes & kFsFolder)) {
      return true;  // a file where the folder lands: the copy fails on it
    } else if (!InstallationPlace(engine, target, place)) {
      return false;
    }
  }
  // A source that cannot be listed is the copy's failure (nothing copied);
  // one that cannot be listed to its end is the run's.
  FsFailure why = FsFailure::None;
  FsListing* listing = FsListOpen(source, &why);
  if (!listing) return why == FsFailure::NotFound;
  FsEntry entry;
  FsListed listed;
  bool ok = true;
  while (ok && (listed = FsListNext(listing, &entry)) == FsListed::Entry) {
    char from[kPathCapacity], to[kPathCapacity];
    ok =
        entry.spelled && JoinedPath(from, source, entry.name) && JoinedPath(to, target, entry.name);
    if (!ok) break;
    if (entry.info.attributes & kFsFolder) {
      ok = RecordFolderCopy(engine, from, to, created, bytes);
    } else {
      *bytes += entry.info.size;
      ok = created || RecordCopiedFile(engine, to, place);
    }
  }
  FsListClose(listing);
  return ok && listed == FsListed::End;
}

// The copy in progress: its hooks, its one buffer, and how it ends.
struct Copying {
  UpdateEngine* engine;
  const CopyHooks* hooks;
  uint8_t* buffer;
  CopyResult result;
};

constexpr uint32_t kCopyPiece = 1u << 20;

// Whether to try a disc's file once more: not once the player has
// cancelled the copy (the result says so), else as the player answers.
bool TryAgain(Copying* c, const char* from) {
  if (c->hooks->cancelled && c->hooks->cancelled(c->hooks->context)) {
    c->result = CopyResult::Aborted;
    return false;
  }
  bool again = c->hooks->retryRead && c->hooks->retryRead(c->hooks->context, from);
  if (!again) c->result = CopyResult::Failed;
  return again;
}

// Opens a disc's file to read, asking the player to retry while it cannot
// be; a folder or a link where a file was listed is no file to copy.
FsFile* OpenSource(Copying* c, const char* from, FsInfo* info) {
  for (;;) {
    FsFile* file = FsOpen(from, FsMode::Read);
    if (file && FsFileInfo(file, info) && !(info->attributes & (kFsFolder | kFsLink))) return file;
    FsClose(file);
    if (!TryAgain(c, from)) return nullptr;
  }
}

// One file from a disc to to, whose folder lies at place: created new (the
// journal has moved any original aside and named it), its bytes read and
// written piece by piece, the source's times and attributes (or kFsNormal),
// all on the disk before it is closed.
void CopyFile(Copying* c, const char* from, const char* to, const char* place,
              uint32_t attributes) {
  if (c->result != CopyResult::Done) return;
  FsInfo info;
  FsFile* source = OpenSource(c, from, &info);
  if (!source) return;
  FsFile* file = nullptr;
  if (OpenInPlace(CheckOf(c->engine), to, place, FsMode::Create, &file) != Opened::Ok) {
    FsClose(source);
    c->result = CopyResult::Failed;
    return;
  }
  uint64_t at = 0;
  while (c->result == CopyResult::Done && at < info.size) {
    uint32_t read = 0;
    uint64_t left = info.size - at;
    uint32_t want = left < kCopyPiece ? static_cast<uint32_t>(left) : kCopyPiece;
    if (!FsRead(source, at, c->buffer, want, &read) || read == 0) {
      // A read that fails (a scratched disc) may succeed once more.
      TryAgain(c, from);
      continue;
    }
    if (!FsWrite(file, c->buffer, read)) c->result = CopyResult::Failed;
    at += read;
    const Progress* progress = c->hooks->progress;
    if (progress && progress->pieceWritten) progress->pieceWritten(progress->context, read);
    if (c->hooks->cancelled && c->hooks->cancelled(c->hooks->context))
      c->result = CopyResult::Aborted;
  }
  // Times and attributes before the flush, which puts them on the disk with
  // the data: the completion record that follows must find them there. Of
  // the source's attributes those a file can be given.
  uint32_t kept = info.attributes & (kFsReadOnly | kFsHidden | kFsSystem | kFsArchive);
  if (!attributes) attributes = kept ? kept : kFsNormal;
  if (c->result == CopyResult::Done &&
      (!FsSetInfo(file, attributes, &info.times) || !FsFlush(file)))
    c->result = CopyResult::Failed;
  if (!FsClose(file) && c->result == CopyResult::Done) c->result = CopyResult::Failed;
  FsClose(source);
}

// The folder at target made (when the journal named it created), in its
// parent by the parent's checked handle, and checked to lie inside the
// installation, into place.
bool MadeFolder(Copying* c, const char* target, char (&place)[kPlaceCapacity]) {
  FsInfo info;
  FsFailure why = FsFailure::None;
  if (!FsGetInfo(target, &info, &why)) {
    char parent[kPathCapacity], parentPlace[kPlaceCapacity];
    FsFile* into = nullptr;
    if (why != FsFailure::NotFound || !FolderOf(target, parent) ||
        !InstallationPlace(c->engine, parent, parentPlace) ||
        OpenFolderInPlace(CheckOf(c->engine), parent, parentPlace, &into) != Opened::Ok)
      return false;
    FsFile* made = FsCreateFolderIn(into, target + TextLength(parent) + 1, target);
    FsClose(into);
    if (!made) return false;
    bool inPlace = LiesIn(made, parentPlace);
    FsClose(made);
    if (!inPlace) return false;
  }
  // Where places cannot be had, a link there is taken for a planted one.
  return InstallationPlace(c->engine, target, place) && FsGetInfo(target, &info) &&
         (info.attributes & kFsFolder) && (place[0] || !(info.attributes & kFsLink));
}

// Everything in the disc's folder source, into target, as planned.
void CopyFolder(Copying* c, const char* source, const char* target) {
  char place[kPlaceCapacity];
  if (c->result != CopyResult::Done) return;
  if (!MadeFolder(c, target, place)) {
    c->result = CopyResult::Failed;
    return;
  }
  FsListing* listing = FsListOpen(source);
  if (!listing) {
    c->result = CopyResult::Failed;
    return;
  }
  FsEntry entry;
  FsListed listed = FsListed::End;
  while (c->result == CopyResult::Done && (listed = FsListNext(listing, &entry)) == FsListed::Entry) {
    char from[kPathCapacity], to[kPathCapacity];
    if (!entry.spelled || !JoinedPath(from, source, entry.name) || !JoinedPath(to, target, entry.name))
      c->result = CopyResult::Failed;
    else if (entry.info.attributes & kFsFolder)
      CopyFolder(c, from, to);
    else
      CopyFile(c, from, to, place, 0);
  }
  FsListClose(listing);
  if (listed == FsListed::Failed && c->result == CopyResult::Done) c->result = CopyResult::Failed;
}

// The folders on the way to a file copy's target that do not exist yet
// (the journal named the outermost created); false when one cannot be made.
bool MadeFoldersTo(Copying* c, const char* target) {
  char folder[kPathCapacity], place[kPlaceCapacity];
  for (size_t end = 0; NextFolderOnTheWay(c->engine, target, &end, folder);)
    if (!MadeFolder(c, folder, place)) return false;
  return true;
}

}  // namespace

Refusal BeginUpdate(UpdateEngine* engine, const char* installPath, const PackageView& package,
                    const UpdateLists& lists, bool overwriteOnly) {
  engine->package = package;
  engine->overwriteOnly = overwriteOnly;
  engine->updateCount = lists.updateCount;
  engine->updates = lists.updates;
  engine->totalBytes = 0;
  engine->journal.file = nullptr;
  engine->journal.pendingSize = 0;
  // The first item's failure tells of a run that cannot begin.
  Refusal first{true, lists.updateCount == 0, 0};
  if (!NormalPath(installPath, engine->root) || !FolderPlace(engine->root, engine->rootPlace))
    return first;
  Refusal refusal = PlaceUpdateItems(engine, lists);
  if (refusal.refused) return refusal;
  // The run makes its work folder new; one that is there already (left by
  // another program, or a link) stops it before any change.
  if (!JournalBegin(&engine->journal, engine->root, engine->rootPlace)) return first;
  PlanUpdateItems(engine);
  return {false, false, 0};
}

EntryWriteReport WriteUpdateItem(UpdateEngine* engine, int i, const Progress* progress) {
  const UpdateItem& item = engine->updates[i];
  const char* name = item.path + item.nameOffset;
  const char* destination = engine->destinations[i];
  const char* place = engine->places[i];
  PlaceCheck check = CheckOf(engine);
  switch (engine->plans[i]) {
    case ItemPlan::Skip:
      return {EntryWrite::Written, 0, {}};
    case ItemPlan::CannotWrite:
      return {EntryWrite::Failed, 0, {}};
    case ItemPlan::Attempt:
      return WriteEntryInPlace(engine->package, name, destination, check, nullptr, progress);
    case ItemPlan::Rewrite: {
      // The earlier item's file goes first; the journal covers the name.
      FsFile* file = nullptr;
      Opened opened = OpenInPlace(check, destination, place, FsMode::Change, &file);
      if (opened == Opened::Ok ? !DeleteOpened(file) : opened != Opened::Gone)
        return {EntryWrite::Failed, 0, {}};
      break;
    }
    case ItemPlan::Write:
      break;
  }
  return WriteEntryInPlace(engine->package, name, destination, check, place, progress);
}

bool PlanDiscCopy(UpdateEngine* engine, const char* sourceRoot, const char* itemPath,
                  DiscCopy* copy) {
  copy->bytes = 0;
  char joined[kPathCapacity], source[kPathCapacity];
  if (!CopyText(joined, sourceRoot) || !JoinPath(joined, itemPath) || !NormalPath(joined, source) ||
      !CopyText(copy->source, source))
    return false;
  // Attributes that cannot be read count as a folder: a missing source is
  // copied as a folder and fails in the copy.
  FsInfo info;
  bool found = FsGetInfo(source, &info);
  copy->sourceIsFolder = !found || (info.attributes & kFsFolder);
  // A folder lands under its own last name in the installation folder, a
  // file at its own path below it.
  const char* landing = copy->sourceIsFolder ? LastName(source) : itemPath;
  char target[kPathCapacity];
  if (!landing[0] || ResolveInside(engine->root, landing, target) != PathPlace::Inside ||
      !CopyText(copy->target, target))
    return false;
  if (!copy->sourceIsFolder) {
    copy->bytes = info.size;
    if (!RecordFileCopy(engine, target)) return false;
  } else {
    // The copy then resets the installation folder's own attributes.
    FsInfo rootInfo;
    char parentPlace[kPlaceCapacity];
    ParentPlace(engine->rootPlace, parentPlace);
    if (!InfoOf(engine->root, &rootInfo) ||
        !JournalAttributes(&engine->journal, engine->root, parentPlace, rootInfo.attributes) ||
        !RecordFolderCopy(engine, source, target, false, &copy->bytes))
      return false;
  }
  return JournalApply(&engine->journal);
}

CopyResult CopyFromDisc(UpdateEngine* engine, const DiscCopy& copy, const CopyHooks& hooks) {
  Copying c{engine, &hooks, static_cast<uint8_t*>(AllocBlock(kCopyPiece)), CopyResult::Done};
  if (!c.buffer) return CopyResult::Failed;
  if (copy.sourceIsFolder) {
    CopyFolder(&c, copy.source, copy.target);
  } else {
    char folder[kPathCapacity], place[kPlaceCapacity];
    if (!MadeFoldersTo(&c, copy.target) || !FolderOf(copy.target, folder) ||
        !InstallationPlace(engine, folder, place))
      c.result = CopyResult::Failed;
    // A copied file is left without the read-only attribute a disc gives it.
    CopyFile(&c, copy.source, copy.target, place, kFsNormal);
  }
  FreeBlock(c.buffer);
  // A folder copy leaves the installation folder itself a plain folder, as
  // the journal noted it would.
  if (c.result == CopyResult::Done && copy.sourceIsFolder) {
    char parentPlace[kPlaceCapacity];
    ParentPlace(engine->rootPlace, parentPlace);
    FsFile* root = nullptr;
    if (OpenInPlace(CheckOf(engine), engine->root, parentPlace, FsMode::Change, &root) == Opened::Ok) {
      FsSetInfo(root, kFsNormal, nullptr);
      FsClose(root);
    }
  }
  return c.result;
}

bool CommitUpdate(UpdateEngine* engine) { return JournalCommit(&engine->journal); }

bool RollbackUpdate(UpdateEngine* engine) { return JournalRollback(&engine->journal); }

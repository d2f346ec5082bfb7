#include "wizard/journal.h"

#include <windows.h>

#include <cstring>

#include "base/separators.h"
#include "base/system.h"
#include "config/join_path.h"
#include "engine/journal_records.h"
#include "engine/paths.h"
#include "package/block.h"

namespace {

const char* const kJournalName = "~UPDATE.JNL";
// Where originals are kept aside: one folder of the installation, so that
// the names the run makes lie in a small folder (making a name, like
// looking up one that does not exist, costs a listing of the whole folder
// on some systems).
const char* const kWorkFolderName = "~UPDATE.TMP";
constexpr size_t kPendingCapacity = 64 * 1024;
// Folders whose times the run keeps, beyond the installation folder; a run
// that changes more folders than this gets the first ones' times back (the
// times are not worth failing a run for).
constexpr size_t kTimedFolders = 64;
constexpr DWORD kLargestJournal = 64u << 20;

struct Journal {
  char root[kPathCapacity];
  char path[kPathCapacity];
  char workFolder[kPathCapacity];  // empty where its names would not fit a path buffer
  bool workFolderNew;  // absent when the run began: the run names everything in it
  HANDLE file;  // none until the first record is written
  uint8_t pending[kPendingCapacity];  // records not yet written
  size_t pendingSize;
  uint32_t names;  // counter behind the names of files kept aside
  bool workFolderRecorded;
  bool rootTimesRecorded;
  char timedFolders[kTimedFolders][kPathCapacity];  // their times are in the journal
  size_t timedFolderCount;
};

// Zero at start (in .bss: the pending buffer adds nothing to the program).
Journal journal;

bool Exists(const char* path) { return SysGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

// Length of path's folder part with its last backslash.
size_t FolderLength(const char* path) {
  size_t at = LastSeparator(path, TextLength(path), kBackslash);
  return at == kNoSeparator ? 0 : at + 1;
}

bool RecordTimes(const char* folder, const WIN32_FILE_ATTRIBUTE_DATA& data);

bool Append(const JournalRecord& record) {
  // The installation folder's times come first: every run changes it.
  if (!journal.rootTimesRecorded) {
    journal.rootTimesRecorded = true;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (SysGetFileAttributesEx(journal.root, &data) && !RecordTimes(journal.root, data))
      return false;
  }
  if (kPendingCapacity - journal.pendingSize < kJournalRecordMax && !JournalApply()) return false;
  size_t length = EncodeJournalRecord(record, journal.pending + journal.pendingSize);
  journal.pendingSize += length;
  return length != 0;
}

bool WriteAll(HANDLE file, const void* data, size_t length) {
  DWORD written = 0;
  return WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) &&
         written == length;
}

bool OpenJournal() {
  if (journal.file) return true;
  if (!CopyText(journal.path, journal.root) || !JoinPath(journal.path, kJournalName)) return false;
  // Not shared: a second updater that finds it open leaves it alone. The
  // records reach the disk by FlushFileBuffers after each batch (one wait
  // per batch, where writing through would wait on every write).
  HANDLE file = SysCreateFile(journal.path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return false;
  journal.file = file;
  if (!WriteAll(file, kJournalHeader, kJournalHeaderSize)) return false;
  return true;
}

// --- restoring ---------------------------------------------------------------

bool RemoveFile(const char* path) {
  // Most files simply go; the attributes are looked at only when one does not.
  if (SysDeleteFile(path)) return true;
  DWORD attributes = SysGetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) SysSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return SysDeleteFile(path) || !Exists(path);
}

// A folder the run created, with everything in it (all of it the run's).
bool RemoveFolder(const char* path) {
  DWORD attributes = SysGetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveFile(path);
  char pattern[kPathCapacity];
  if (!CopyText(pattern, path) || !JoinPath(pattern, "*")) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = SysFindFirstFile(pattern, &found);
  bool ok = true;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!std::strcmp(found.cFileName, ".") || !std::strcmp(found.cFileName, "..")) continue;
      char inner[kPathCapacity];
      ok = CopyText(inner, path) && JoinPath(inner, found.cFileName) &&
           ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveFolder(inner)
                                                                 : RemoveFile(inner)) &&
           ok;
    } while (SysFindNextFile(search, &found));
    FindClose(search);
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SysSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return (SysRemoveDirectory(path) || !Exists(path)) && ok;
}

// A file's or a folder's times.
void SetTimes(const char* path, const uint64_t (&times)[3]) {
  HANDLE file = SysCreateFile(path, FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME t[3];
  for (int i = 0; i < 3; ++i)
    t[i] = {static_cast<DWORD>(times[i]), static_cast<DWORD>(times[i] >> 32)};
  SetFileTime(file, &t[0], &t[1], &t[2]);
  CloseHandle(file);
}

// Each step may have been taken already by a restore that was interrupted.
bool TakeStep(const RestoreStep& step) {
  const JournalRecord& record = step.record;
  switch (step.action) {
    case RestoreAction::PutBack:
      // No file aside: it was never moved, or it is back already.
      if (!Exists(record.aside)) return true;
      if (!RemoveFile(record.path) || !SysMoveFile(record.aside, record.path)) return false;
      // A rename keeps the contents, times and attributes; the times are set
      // again because a name that was just deleted can hand its own creation
      // time to the file that takes it.
      SysSetFileAttributes(record.path, FILE_ATTRIBUTE_NORMAL);
      SetTimes(record.path, record.times);
      return SysSetFileAttributes(record.path, record.attributes) != 0;
    case RestoreAction::RemoveCreated:
      return record.folder ? RemoveFolder(record.path) : RemoveFile(record.path);
    case RestoreAction::PutAttributes:
      return !Exists(record.path) || SysSetFileAttributes(record.path, record.attributes);
    case RestoreAction::DeleteAside:
      return RemoveFile(record.aside);
    case RestoreAction::RemoveEmpty:
      // Never with anything in it: an original that could not be put back stays.
      return !Exists(record.path) || SysRemoveDirectory(record.path);
    case RestoreAction::PutFolderTimes:
      // Only the times: not worth keeping the journal for when they fail.
      if (Exists(record.path)) SetTimes(record.path, record.times);
      return true;
  }
  return false;
}

enum class Restored { Done, Failed, NotOurs };

// Reads the open journal whole and takes its restore plan. rootTimes gets
// the installation folder's times when the plan gives them back (deleting
// the journal afterwards changes them again).
Restored RestoreFrom(HANDLE file, const char* root, uint64_t (&rootTimes)[3], bool* hasRootTimes) {
  *hasRootTimes = false;
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE || size > kLargestJournal) return Restored::NotOurs;
  // A journal cut short inside its header: nothing was changed yet.
  if (size < kJournalHeaderSize) return Restored::Done;
  uint8_t* bytes = static_cast<uint8_t*>(AllocBlock(size));
  size_t capacity = MaxRestoreSteps(size);
  RestoreStep* steps = static_cast<RestoreStep*>(
      AllocBlock(static_cast<uint32_t>(capacity * sizeof(RestoreStep))));
  Restored result = Restored::Failed;
  DWORD read = 0;
  size_t count = 0;
  if (bytes && steps && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
      ReadFile(file, bytes, size, &read, nullptr) && read == size) {
    if (!PlanRestore(bytes, size, root, steps, &count)) {
      result = Restored::NotOurs;
    } else {
      result = Restored::Done;
      for (size_t i = 0; i < count; ++i) {
        if (!TakeStep(steps[i])) result = Restored::Failed;
        if (steps[i].action == RestoreAction::PutFolderTimes &&
            !std::strcmp(steps[i].record.path, root)) {
          for (int t = 0; t < 3; ++t) rootTimes[t] = steps[i].record.times[t];
          *hasRootTimes = true;
        }
      }
    }
  }
  FreeBlock(steps);
  FreeBlock(bytes);
  return result;
}

// Restores (or finishes) from the open journal at path and closes it; the
// journal is deleted when that is done, kept for the next start otherwise.
void RestoreAndEnd(HANDLE file, const char* path, const char* root) {
  uint64_t rootTimes[3];
  bool hasRootTimes = false;
  Restored result = RestoreFrom(file, root, rootTimes, &hasRootTimes);
  CloseHandle(file);
  if (result != Restored::Done) return;
  SysDeleteFile(path);
  if (hasRootTimes) SetTimes(root, rootTimes);
}

// Restores (or finishes) from the run's own journal and ends it.
void EndJournal() {
  journal.pendingSize = 0;
  if (!journal.file) return;
  HANDLE file = journal.file;
  journal.file = nullptr;
  RestoreAndEnd(file, journal.path, journal.root);
}

void TakeTimes(const WIN32_FILE_ATTRIBUTE_DATA& data, uint64_t (&times)[3]) {
  const FILETIME* from[3] = {&data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime};
  for (int i = 0; i < 3; ++i)
    times[i] = from[i]->dwLowDateTime | (uint64_t{from[i]->dwHighDateTime} << 32);
}

bool RecordTimes(const char* folder, const WIN32_FILE_ATTRIBUTE_DATA& data) {
  JournalRecord record{JournalKind::FolderTimes, true, 0, {}, folder, ""};
  TakeTimes(data, record.times);
  return Append(record);
}

// Records the times of the folder that holds path before its first change
// in this run (the installation folder's come with the first record). A
// folder that does not exist yet is one the run creates: it goes whole.
bool RecordFolderTimes(const char* path) {
  char folder[kPathCapacity];
  size_t length = FolderLength(path);
  if (length < 2 || !CopyText(folder, path)) return true;
  folder[length - 1] = '\0';
  if (!PathInside(journal.root, folder)) return true;  // the installation folder itself
  for (size_t i = 0; i < journal.timedFolderCount; ++i)
    if (!std::strcmp(folder, journal.timedFolders[i])) return true;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (journal.timedFolderCount == kTimedFolders || !SysGetFileAttributesEx(folder, &data) ||
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return true;
  CopyText(journal.timedFolders[journal.timedFolderCount++], folder);
  return RecordTimes(folder, data);
}

}  // namespace

void JournalBegin(const char* installPath) {
  CopyText(journal.root, installPath);
  journal.pendingSize = 0;
  journal.workFolderRecorded = false;
  journal.rootTimesRecorded = false;
  journal.timedFolderCount = 0;
  bool fits = CopyText(journal.workFolder, journal.root) &&
              JoinPath(journal.workFolder, kWorkFolderName) &&
              TextLength(journal.workFolder) + 13 < kPathCapacity;
  if (!fits) journal.workFolder[0] = '\0';
  journal.workFolderNew = fits && !Exists(journal.workFolder);
}

namespace {

// A name that exists nowhere yet beside path: "~FU" and five hex digits,
// ".TMP", where 12 bytes fit; else as many base-32 digits as fit behind a
// '~'. Each candidate is looked up.
bool NewNameBeside(const char* path, char (&name)[kPathCapacity]) {
  size_t folder = FolderLength(path);
  size_t room = kPathCapacity - 1 - folder;
  if (room == 0) return false;
  if (room > 12) room = 12;
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
  for (int attempt = 0; attempt < 64; ++attempt) {
    DWORD value = seed + journal.names++;
    char base[16];
    if (room == 12) {
      FormatText(base, "~FU%05X.TMP", static_cast<unsigned>(value & 0xFFFFF));
    } else {
      const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
      for (size_t i = 0; i < room; ++i, value >>= 5) base[i] = digits[value & 31];
      if (room > 1) base[0] = '~';
      base[room] = '\0';
    }
    CopyText(name, path);
    name[folder] = '\0';
    if (AppendText(name, base) && !Exists(name)) return true;
  }
  return false;
}

// A new name for path's original: in the work folder (recorded, to be made
// with the first), or beside path where the work folder's names would not
// fit. In a work folder the run makes, the names come from a counter and
// are not looked up: nothing else is in it, and looking up a name that does
// not exist costs a listing of the folder on some systems.
bool AsideName(const char* path, char (&name)[kPathCapacity]) {
  if (!journal.workFolder[0]) return NewNameBeside(path, name);
  if (!journal.workFolderRecorded) {
    if (journal.workFolderNew &&
        !Append({JournalKind::AsideFolder, true, 0, {}, journal.workFolder, ""}))
      return false;
    journal.workFolderRecorded = true;
  }
  if (!journal.workFolderNew) {
    char probe[kPathCapacity];
    return CopyText(probe, journal.workFolder) && JoinPath(probe, "~") &&
           NewNameBeside(probe, name);
  }
  FormatText(name, "%s\\~FU%05X.TMP", journal.workFolder,
             static_cast<unsigned>(journal.names++ & 0xFFFFF));
  return true;
}

}  // namespace

bool JournalMoveAside(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  char aside[kPathCapacity];
  if (!SysGetFileAttributesEx(path, &data) || !AsideName(path, aside)) return false;
  JournalRecord record{JournalKind::MovedAside, false, data.dwFileAttributes, {}, path, aside};
  TakeTimes(data, record.times);
  return RecordFolderTimes(path) && Append(record);
}

bool JournalCreated(const char* path, bool folder) {
  return RecordFolderTimes(path) && Append({JournalKind::Created, folder, 0, {}, path, ""});
}

bool JournalAttributes(const char* path) {
  DWORD attributes = SysGetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return Append({JournalKind::Attributes, false, attributes, {}, path, ""});
}

bool JournalApply() {
  if (journal.pendingSize == 0) return true;
  size_t size = journal.pendingSize;
  journal.pendingSize = 0;
  if (!OpenJournal() || !WriteAll(journal.file, journal.pending, size) ||
      !FlushFileBuffers(journal.file))
    return false;
  JournalReader reader{journal.pending, size, 0};
  JournalRecord record;
  while (NextJournalRecord(&reader, &record)) {
    if (record.kind == JournalKind::AsideFolder && !SysCreateDirectory(record.path)) return false;
    if (record.kind == JournalKind::MovedAside && !SysMoveFile(record.path, record.aside))
      return false;
  }
  return true;
}

bool JournalCommit() {
  journal.pendingSize = 0;
  if (!journal.file) return true;
  uint8_t record[kJournalRecordMax];
  size_t length = EncodeJournalRecord({JournalKind::Committed, false, 0, {}, journal.root, ""},
                                      record);
  // Once this record is on the disk the new files stay, whatever happens.
  if (!WriteAll(journal.file, record, length) || !FlushFileBuffers(journal.file)) return false;
  EndJournal();
  return true;
}

void JournalRollback() { EndJournal(); }

void RecoverInstallation(const char* installPath) {
  char path[kPathCapacity];
  if (!CopyText(path, installPath) || !JoinPath(path, kJournalName)) return;
  HANDLE file = SysCreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return;  // none, or a live run holds it
  RestoreAndEnd(file, path, installPath);
}

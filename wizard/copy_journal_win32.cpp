// What a disc copy through the shell will change in the installation, put
// in the journal before the copy starts.
#include <windows.h>

#include <cstring>

#include "app/updater_state.h"
#include "base/separators.h"
#include "base/system.h"
#include "config/join_path.h"
#include "wizard/journal.h"

namespace {

bool IsDots(const char* name) { return !std::strcmp(name, ".") || !std::strcmp(name, ".."); }

// One destination file: moved aside when it exists, created when not. A
// folder in its place is left to the shell, which fails on it.
bool RecordFile(const char* target) {
  DWORD attributes = SysGetFileAttributes(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return JournalCreated(target, false);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  return JournalMoveAside(target);
}

// The folders on the way to target's folder that do not exist yet, the
// outermost first (the shell makes them for a file copy).
bool RecordMissingFolders(const char* root, const char* target) {
  size_t rootLength = TextLength(root);
  char folder[kPathCapacity];
  for (size_t i = rootLength; target[i] != '\0'; ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(target[i])) && target[i + 1] != '\0') {
      ++i;
      continue;
    }
    if (target[i] != '\\') continue;
    CopyText(folder, target);
    folder[i] = '\0';
    if (SysGetFileAttributes(folder) == INVALID_FILE_ATTRIBUTES && !JournalCreated(folder, true))
      return false;
  }
  return true;
}

// The files and folders of source as they will land in target. A folder
// that does not exist yet is recorded once, and everything in it with it.
bool RecordFolder(const char* source, const char* target, bool inCreated, uint64_t* bytes) {
  bool created = inCreated || SysGetFileAttributes(target) == INVALID_FILE_ATTRIBUTES;
  if (created && !inCreated && !JournalCreated(target, true)) return false;
  char pattern[kPathCapacity];
  if (!CopyText(pattern, source) || !JoinPath(pattern, "*")) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = SysFindFirstFile(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return true;  // nothing to copy, or the shell fails
  bool ok = true;
  do {
    if (IsDots(found.cFileName)) continue;
    char from[kPathCapacity], to[kPathCapacity];
    if (!CopyText(from, source) || !JoinPath(from, found.cFileName) || !CopyText(to, target) ||
        !JoinPath(to, found.cFileName)) {
      ok = false;
      break;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = RecordFolder(from, to, created, bytes);
    } else {
      *bytes += found.nFileSizeLow | (uint64_t{found.nFileSizeHigh} << 32);
      ok = created || RecordFile(to);
    }
  } while (ok && SysFindNextFile(search, &found));
  FindClose(search);
  return ok;
}

// The last name of path.
const char* LastName(const char* path) {
  size_t at = LastSeparator(path, TextLength(path), kBackslash);
  return at == kNoSeparator ? path : path + at + 1;
}

}  // namespace

bool JournalShellCopy(const char* source, const char* destination, bool sourceIsFolder,
                      uint64_t* bytes) {
  *bytes = 0;
  if (!sourceIsFolder) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (SysGetFileAttributesEx(source, &data))
      *bytes = data.nFileSizeLow | (uint64_t{data.nFileSizeHigh} << 32);
    // destination is the installation folder joined with the item's path.
    return RecordMissingFolders(updaterState.installPath, destination) && RecordFile(destination);
  }
  // The folder lands under its own last name in destination, whose own
  // attributes the copy then resets.
  char target[kPathCapacity];
  if (!CopyText(target, destination) || !JoinPath(target, LastName(source))) return false;
  return JournalAttributes(destination) && RecordFolder(source, target, false, bytes);
}

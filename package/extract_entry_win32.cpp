#include "package/extract_entry.h"

#include <windows.h>

#include <cstring>

#include "base/system.h"
#include "app/updater_state.h"
#include "base/bounded_text.h"
#include "base/separators.h"
#include "config/error_boxes.h"
#include "config/update_items.h"
#include "package/block.h"
#include "package/entry_data.h"
#include "package/entry_name.h"
#include "package/extraction_system.h"
#include "package/open_package.h"
#include "resources/texts.h"

namespace {

// True when path fits a path buffer (fewer than kPathCapacity bytes).
bool PathFits(const char* path) {
  for (size_t i = 0; i < kPathCapacity; ++i)
    if (path[i] == '\0') return true;
  return false;
}

// Length of the folder part of path, its last separator included (0 for a
// bare name). Double-byte characters are stepped over whole, since their
// second byte may be a backslash.
size_t FolderLength(const char* path) {
  // Whatever the system takes as a folder: either separator, or the colon of
  // a drive-relative "C:NAME".
  size_t last = LastSeparator(path, TextLength(path), kBackslash | kSlash | kDriveColon);
  return last == kNoSeparator ? 0 : last + 1;
}

// A name for a temporary file: "~FA" with five hex digits and ".TMP" where
// room allows 12 bytes, else room bytes ('~' and base-32 digits, or a digit
// alone).
void TemporaryName(char (&name)[16], size_t room, DWORD value) {
  if (room >= 12) {
    FormatText(name, "~FA%05X.TMP", static_cast<unsigned>(value & 0xFFFFF));
    return;
  }
  const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  for (size_t i = 0; i < room; ++i) {
    name[i] = i == 0 && room > 1 ? '~' : digits[value & 31];
    if (i > 0 || room == 1) value >>= 5;
  }
  name[room] = '\0';
}

// Creates a new, empty temporary file beside path (same folder, so that the
// final replace is a rename on one drive); its name goes to temp. The name is
// never longer than the room the path buffer leaves beside the folder, which
// the destination's own name shows to be there, so a temporary fits
// whenever the destination does. Written in place, it is the destination
// itself.
HANDLE CreateTemporaryBeside(const char* path, char (&temp)[kPathCapacity]) {
  if (extractionObserver.inPlace) {
    CopyText(temp, path);
    return SysCreateFile(temp, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  }
  size_t folder = FolderLength(path);
  size_t room = kPathCapacity - 1 - folder;
  if (room > 12) room = 12;
  if (room == 0) return INVALID_HANDLE_VALUE;
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
  for (DWORD attempt = 0; attempt < 64; ++attempt) {
    char name[16];
    TemporaryName(name, room, seed + attempt);
    if (SameEntryName(name, path + folder)) continue;  // never the destination itself
    CopyText(temp, path);
    temp[folder] = '\0';
    if (!AppendText(temp, name)) return INVALID_HANDLE_VALUE;
    HANDLE file = SysCreateFile(temp, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

bool SetTimes(HANDLE file, const FileTime* fileTime) {
  FILETIME time{fileTime->low, fileTime->high};
  return SetFileTime(file, &time, &time, &time) != 0;
}

}  // namespace

static_assert(sizeof(FileTime) == sizeof(FILETIME));

ExtractionObserver extractionObserver = {false, nullptr};

int BeginTemporaryFile(const char* destination, TemporaryFile* file) {
  file->handle = INVALID_HANDLE_VALUE;
  if (!PathFits(destination)) return 0;
  CopyText(file->destination, destination);
  HANDLE handle = CreateTemporaryBeside(destination, file->path);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  file->handle = handle;
  return 1;
}

int WriteTemporaryFile(TemporaryFile* file, const void* data, uint32_t length) {
  DWORD written = 0;
  return WriteFile(static_cast<HANDLE>(file->handle), data, length, &written, nullptr) &&
         written == length;
}

void AbandonTemporaryFile(TemporaryFile* file) {
  CloseHandle(static_cast<HANDLE>(file->handle));
  file->handle = INVALID_HANDLE_VALUE;
  SysDeleteFile(file->path);
}

int FinishTemporaryFile(TemporaryFile* file, const FileTime* fileTime) {
  bool ok = !fileTime || SetTimes(static_cast<HANDLE>(file->handle), fileTime);
  if (!CloseHandle(static_cast<HANDLE>(file->handle))) ok = false;
  file->handle = INVALID_HANDLE_VALUE;
  // Written in place: there is nothing to rename, and the times set on the
  // handle are the file's own.
  if (extractionObserver.inPlace) return ok ? 1 : 0;
  ok = ok && ExtractionReplaceFile(file->path, file->destination);
  if (!ok) {
    SysDeleteFile(file->path);
    return 0;
  }
  // The file is in place with the times set on the temporary. Some file
  // systems hand a name that was just replaced its old creation time
  // ("tunnelling"); setting the times once more on the final name makes all
  // three the entry's own. Whether that works or not, the file was replaced:
  // the write has succeeded.
  if (fileTime) {
    HANDLE final = SysCreateFile(file->destination, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL);
    if (final != INVALID_HANDLE_VALUE) {
      SetTimes(final, fileTime);
      CloseHandle(final);
    }
  }
  return 1;
}

int WriteFileWithTime(const char* path, const void* data, uint32_t length,
                      const FileTime* fileTime) {
  TemporaryFile file;
  if (!BeginTemporaryFile(path, &file)) return 0;
  if (!WriteTemporaryFile(&file, data, length)) {
    AbandonTemporaryFile(&file);
    return 0;
  }
  return FinishTemporaryFile(&file, fileTime);
}

namespace {

enum StreamOutcome { StreamWritten, StreamCorrupt, StreamWriteFailed };

// Reads the entry piece by piece into the temporary file.
StreamOutcome StreamEntry(EntryReader* reader, uint8_t* buffer, TemporaryFile* file) {
  while (!reader->finished) {
    const uint8_t* piece;
    size_t length;
    if (ReadEntryPiece(reader, buffer, &piece, &length) != EntryDataOk) return StreamCorrupt;
    if (length && !WriteTemporaryFile(file, piece, static_cast<uint32_t>(length)))
      return StreamWriteFailed;
    if (extractionObserver.pieceWritten)
      extractionObserver.pieceWritten(static_cast<uint32_t>(length));
  }
  return StreamWritten;
}

}  // namespace

int ExtractEntry(const char* name, const char* destinationPath) {
  if (!PathFits(destinationPath)) return 0;

  uint32_t index = 0;
  if (!updaterState.entries || !FindEntry(updaterState.package, name, &index)) {
    ShowUpdateError(kTextEntryMissing);
    return 0;
  }
  const PackageEntry& entry = updaterState.entries[index];

  // The drive string is the destination's first two bytes, whatever they are.
  char drive[kPathCapacity] = {};
  for (size_t i = 0; i < 2 && destinationPath[i] != '\0'; ++i) drive[i] = destinationPath[i];
  uint64_t available = 0, total = 0, free = 0;
  // When neither query answers there are no figures to compare with, so the
  // check is skipped; a drive that is really full then fails the write.
  uint32_t shortfall = QueryFreeSpace(drive, &available, &total, &free)
                           ? SpaceShortfall(entry.originalSize, available)
                           : 0;
  if (shortfall != 0) {
    char message[kPathCapacity];
    FormatShortageText(message, drive, shortfall, false);
    ShowUpdateError(message);
    return 0;
  }

  EntryReader reader;
  EntryDataResult opened =
      updaterState.packageBytes
          ? OpenEntryData(updaterState.package, index, updaterState.packageBytes,
                          updaterState.packageSize, &reader)
          : EntryDataOutside;
  if (opened != EntryDataOk) {
    ShowUpdateError(kTextResourceReadError);
    return 0;
  }
  // A compressed entry is decoded through one working buffer of fixed size,
  // whatever the entry's size; a stored one is written from the package.
  uint8_t* buffer = nullptr;
  if (reader.compressed) {
    buffer = static_cast<uint8_t*>(ExtractionAllocate(static_cast<uint32_t>(kEntryBufferSize)));
    if (!buffer) {
      ShowUpdateError(kTextNoMemory);
      return 0;
    }
  }

  int result = 0;
  DWORD attributes = SysGetFileAttributes(destinationPath);
  bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  TemporaryFile file;
  if ((!exists || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) &&
      BeginTemporaryFile(destinationPath, &file)) {
    // The destination is touched only once the whole entry has been decoded
    // to exactly its recorded size.
    StreamOutcome outcome = StreamEntry(&reader, buffer, &file);
    if (outcome != StreamWritten) {
      AbandonTemporaryFile(&file);
      if (outcome == StreamCorrupt) ShowUpdateError(kTextResourceReadError);
    } else {
      // A read-only file could not be replaced.
      bool cleared = exists && (attributes & FILE_ATTRIBUTE_READONLY);
      if (cleared) SysSetFileAttributes(destinationPath, FILE_ATTRIBUTE_NORMAL);
      FileTime time{entry.fileTimeLow, entry.fileTimeHigh};
      result = FinishTemporaryFile(&file, &time);
      // The old file is still there after a failed replace: give it back its attributes.
      if (!result && cleared) SysSetFileAttributes(destinationPath, attributes);
    }
  }
  FreeBlock(buffer);
  return result;
}

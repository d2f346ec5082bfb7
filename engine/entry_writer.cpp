#include "engine/entry_writer.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/sha256.h"
#include "config/update_items.h"
#include "engine/paths.h"
#include "package/block.h"
#include "package/entry_data.h"
#include "package/entry_name.h"
#include "package/extraction_system.h"
#include "package/open_package.h"

namespace {

// True when path fits a path buffer (fewer than kPathCapacity bytes).
bool PathFits(const char* path) {
  for (size_t i = 0; i < kPathCapacity; ++i)
    if (path[i] == '\0') return true;
  return false;
}

// A write after the checks that come before any file is touched.
struct Prepared {
  EntryWriteReport report;
  const PackageEntry* entry;
  EntryReader reader;
  uint8_t* buffer;        // the working buffer of a compressed entry
  const uint8_t* digest;  // what the decoded bytes must hash to, when known
  Sha256 hash;
};

// The checks, in the order the player learns of their failures: a
// destination that fits a path buffer (silently), the entry, the drive's free
// space, the entry's data, the working buffer. False with the report when
// one fails (and no buffer kept).
bool Prepare(const PackageView& package, const char* name, const char* destination, Prepared* p) {
  p->report = {EntryWrite::Failed, 0, {}};
  p->buffer = nullptr;
  if (!PathFits(destination)) return false;
  uint32_t index = 0;
  if (!FindEntry(package.package, name, &index)) {
    p->report.result = EntryWrite::Missing;
    return false;
  }
  p->entry = &package.package->entries[index];
  p->digest = package.entryDigests ? package.entryDigests + size_t{index} * kSha256Size : nullptr;
  for (size_t i = 0; i < 2 && destination[i] != '\0'; ++i) p->report.drive[i] = destination[i];
  // When no figure can be had the check is skipped; a drive that is really
  // full then fails the write. The space an existing file of the same name
  // would free is not counted: the run keeps the original until it completes.
  uint64_t available = 0;
  uint32_t shortfall = FsFreeSpace(p->report.drive, &available)
                           ? SpaceShortfall(p->entry->originalSize, available)
                           : 0;
  if (shortfall != 0) {
    p->report.result = EntryWrite::NoSpace;
    p->report.shortfall = shortfall;
    return false;
  }
  if (!package.bytes || OpenEntryData(package.package, index, package.bytes, package.size,
                                      &p->reader) != EntryDataOk) {
    p->report.result = EntryWrite::Corrupt;
    return false;
  }
  if (p->reader.compressed) {
    p->buffer = static_cast<uint8_t*>(ExtractionAllocate(static_cast<uint32_t>(kEntryBufferSize)));
    if (!p->buffer) {
      p->report.result = EntryWrite::NoMemory;
      return false;
    }
  }
  return true;
}

// Reads the entry piece by piece into file. Bytes that are not the ones
// its digest names count as a corrupt entry, found once the last piece is
// written and before the file is finished: the caller undoes it.
EntryWrite Stream(Prepared* p, FsFile* file, const Progress* progress) {
  Sha256Begin(&p->hash);
  while (!p->reader.finished) {
    const uint8_t* piece;
    size_t length;
    if (ReadEntryPiece(&p->reader, p->buffer, &piece, &length) != EntryDataOk)
      return EntryWrite::Corrupt;
    if (p->digest) Sha256Add(&p->hash, piece, length);
    if (length && !FsWrite(file, piece, static_cast<uint32_t>(length))) return EntryWrite::Failed;
    if (progress && progress->pieceWritten)
      progress->pieceWritten(progress->context, static_cast<uint32_t>(length));
  }
  if (p->digest) {
    uint8_t digest[kSha256Size];
    Sha256End(&p->hash, digest);
    if (std::memcmp(digest, p->digest, kSha256Size) != 0) return EntryWrite::Corrupt;
  }
  return EntryWrite::Written;
}

FsTimes EntryTimes(const PackageEntry& entry) {
  uint64_t time = entry.fileTimeLow | (uint64_t{entry.fileTimeHigh} << 32);
  return {time, time, time};
}

bool SetAttributesAt(const char* path, uint32_t attributes) {
  FsFile* file = FsOpen(path, FsMode::Change);
  if (!file) return false;
  bool ok = FsSetInfo(file, attributes, nullptr);
  return FsClose(file) && ok;
}

// A new temporary file beside destination, named by a counter (a name that
// is taken is skipped), never destination itself.
uint32_t temporaryNames = 0;

struct Temporary {
  FsFile* file;
  char path[kPathCapacity];
};

bool BeginTemporary(const char* destination, Temporary* temporary) {
  size_t folder = FolderLength(destination);
  size_t room = kPathCapacity - 1 - folder;
  if (room > 12) room = 12;
  if (room == 0) return false;
  for (int attempt = 0; attempt < 64; ++attempt) {
    char name[16];
    TemporaryName(name, "~FA", temporaryNames++, room);
    if (SameEntryName(name, destination + folder)) continue;
    CopyText(temporary->path, destination);
    temporary->path[folder] = '\0';
    if (!AppendText(temporary->path, name)) return false;
    FsFailure why = FsFailure::None;
    temporary->file = FsOpen(temporary->path, FsMode::Create, &why);
    if (temporary->file) return true;
    if (why != FsFailure::Exists) return false;
  }
  return false;
}

// Gives the temporary its times and lets it replace destination, whose
// information before is old (none when nothing was there); on failure the
// temporary goes and destination is as it was.
bool FinishTemporary(Temporary* temporary, const char* destination, const FsTimes* times,
                     const FsInfo* old) {
  bool ok = !times || FsSetInfo(temporary->file, 0, times);
  // A read-only file cannot be replaced.
  bool cleared = ok && old && (old->attributes & kFsReadOnly);
  if (cleared) ok = SetAttributesAt(destination, (old->attributes & ~kFsReadOnly) | kFsNormal);
  if (ok && FsRename(temporary->file, destination, true)) {
    // Some file systems hand a name that was just replaced its old creation
    // time ("tunnelling"): the times are given once more, to the file still
    // open under its final name. Once it is in place the write has succeeded.
    if (times) FsSetInfo(temporary->file, 0, times);
    FsClose(temporary->file);
    return true;
  }
  if (cleared) SetAttributesAt(destination, old->attributes);
  FsDelete(temporary->file);
  return false;
}

}  // namespace

EntryWriteReport WriteEntryInPlace(const PackageView& package, const char* name,
                                   const char* destination, const PlaceCheck& check,
                                   const char* place, const Progress* progress) {
  Prepared p;
  if (!Prepare(package, name, destination, &p)) return p.report;
  EntryWrite result = EntryWrite::Failed;
  FsFile* file = nullptr;
  if (place && OpenInPlace(check, destination, place, FsMode::Create, &file) == Opened::Ok) {
    result = Stream(&p, file, progress);
    FsTimes times = EntryTimes(*p.entry);
    if (result == EntryWrite::Written && (!FsSetInfo(file, 0, &times) || !FsFlush(file)))
      result = EntryWrite::Failed;
    if (!FsClose(file) && result == EntryWrite::Written) result = EntryWrite::Failed;
  }
  FreeBlock(p.buffer);
  p.report.result = result;
  return p.report;
}

EntryWriteReport WriteEntryReplacing(const PackageView& package, const char* name,
                                     const char* destination) {
  Prepared p;
  if (!Prepare(package, name, destination, &p)) return p.report;
  EntryWrite result = EntryWrite::Failed;
  FsInfo old;
  bool exists = FsGetInfo(destination, &old);
  Temporary temporary;
  if ((!exists || !(old.attributes & kFsFolder)) && BeginTemporary(destination, &temporary)) {
    // The destination is touched only once the whole entry has decoded to
    // exactly its recorded size.
    result = Stream(&p, temporary.file, nullptr);
    FsTimes times = EntryTimes(*p.entry);
    if (result != EntryWrite::Written) FsDelete(temporary.file);
    else if (!FinishTemporary(&temporary, destination, &times, exists ? &old : nullptr))
      result = EntryWrite::Failed;
  }
  FreeBlock(p.buffer);
  p.report.result = result;
  return p.report;
}

bool WriteFileReplacing(const char* destination, const void* data, uint32_t length,
                        const FsTimes* times) {
  if (!PathFits(destination)) return false;
  FsInfo old;
  bool exists = FsGetInfo(destination, &old);
  if (exists && (old.attributes & kFsFolder)) return false;
  Temporary temporary;
  if (!BeginTemporary(destination, &temporary)) return false;
  if (!FsWrite(temporary.file, data, length)) {
    FsDelete(temporary.file);
    return false;
  }
  return FinishTemporary(&temporary, destination, times, exists ? &old : nullptr);
}

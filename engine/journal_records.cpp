#include "engine/journal_records.h"

#include <cstring>

#include "base/little_endian.h"
#include "engine/paths.h"

const uint8_t kJournalHeader[kJournalHeaderSize] = {'F', 'A', '2', 'J', 'R', 'N', 'L', 1};

namespace {

// Record layout, little-endian: kind, flags (bit 0: folder), path length and
// aside length (terminators included), two reserved bytes, attributes, three
// times; then the path, the aside and a check of all bytes before it.
constexpr size_t kCheckSize = 4;
static_assert(kJournalRecordFixed == 1 + 1 + 2 + 2 + 2 + 4 + 3 * 8);

// FNV-1a: enough to tell a record cut short or half overwritten.
uint32_t Check(const uint8_t* bytes, size_t length) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

// Length of text with its terminator, or 0 when it does not fit a path buffer.
size_t StoredLength(const char* text) {
  for (size_t i = 0; i < kJournalPathCapacity; ++i)
    if (text[i] == '\0') return i + 1;
  return 0;
}

// A stored text of length bytes: the terminator last and nowhere before.
bool IsStoredText(const uint8_t* text, size_t length) {
  if (length == 0 || length > kJournalPathCapacity) return false;
  return std::memchr(text, 0, length) == text + length - 1;
}

bool IsKnownKind(uint8_t kind) { return kind >= 1 && kind <= 6; }

}  // namespace

size_t EncodeJournalRecord(const JournalRecord& record, uint8_t* out) {
  const char* aside = record.aside ? record.aside : "";
  size_t pathLength = StoredLength(record.path);
  size_t asideLength = StoredLength(aside);
  if (pathLength == 0 || asideLength == 0) return 0;
  out[0] = static_cast<uint8_t>(record.kind);
  out[1] = record.folder ? 1 : 0;
  Put16(out + 2, static_cast<uint32_t>(pathLength));
  Put16(out + 4, static_cast<uint32_t>(asideLength));
  Put16(out + 6, 0);
  Put32(out + 8, record.attributes);
  for (int i = 0; i < 3; ++i) Put64(out + 12 + 8 * i, record.times[i]);
  size_t at = kJournalRecordFixed;
  std::memcpy(out + at, record.path, pathLength);
  at += pathLength;
  std::memcpy(out + at, aside, asideLength);
  at += asideLength;
  Put32(out + at, Check(out, at));
  return at + kCheckSize;
}

bool OpenJournalBytes(const uint8_t* bytes, size_t size, JournalReader* reader) {
  if (size < kJournalHeaderSize || std::memcmp(bytes, kJournalHeader, kJournalHeaderSize) != 0)
    return false;
  *reader = {bytes, size, kJournalHeaderSize};
  return true;
}

bool NextJournalRecord(JournalReader* reader, JournalRecord* record) {
  size_t left = reader->size - reader->offset;
  const uint8_t* p = reader->bytes + reader->offset;
  if (left < kJournalRecordFixed) return false;
  size_t pathLength = Get16(p + 2), asideLength = Get16(p + 4);
  size_t length = kJournalRecordFixed + pathLength + asideLength;
  if (left < length + kCheckSize || !IsKnownKind(p[0]) || p[1] > 1 || Get16(p + 6) != 0 ||
      Get32(p + length) != Check(p, length))
    return false;
  const uint8_t* path = p + kJournalRecordFixed;
  const uint8_t* aside = path + pathLength;
  if (!IsStoredText(path, pathLength) || !IsStoredText(aside, asideLength)) return false;
  record->kind = static_cast<JournalKind>(p[0]);
  record->folder = (p[1] & 1) != 0;
  record->attributes = Get32(p + 8);
  for (int i = 0; i < 3; ++i) record->times[i] = Get64(p + 12 + 8 * i);
  record->path = reinterpret_cast<const char*>(path);
  record->aside = reinterpret_cast<const char*>(aside);
  reader->offset += length + kCheckSize;
  return true;
}

size_t MaxRestoreSteps(size_t size) {
  // Each record takes at least the fixed part, two terminators and the check.
  return size / (kJournalRecordFixed + 2 + kCheckSize) + 1;
}

bool PlanRestore(const uint8_t* bytes, size_t size, const char* root, RestoreStep* steps,
                 size_t* count) {
  *count = 0;
  JournalReader reader;
  if (!OpenJournalBytes(bytes, size, &reader)) return false;
  bool committed = false;
  size_t n = 0;
  JournalRecord record;
  while (NextJournalRecord(&reader, &record)) {
    if (record.kind == JournalKind::Committed) {
      committed = true;
      continue;
    }
    bool inside = PathInside(root, record.path);
    // A folder copy resets the attributes of the installation folder itself,
    // and every run changes what it holds.
    if (record.kind == JournalKind::Attributes || record.kind == JournalKind::FolderTimes)
      inside = inside || !std::strcmp(root, record.path);
    if (record.kind == JournalKind::MovedAside) inside = inside && PathInside(root, record.aside);
    if (!inside) return false;
    RestoreAction action = record.kind == JournalKind::MovedAside    ? RestoreAction::PutBack
                           : record.kind == JournalKind::Created     ? RestoreAction::RemoveCreated
                           : record.kind == JournalKind::AsideFolder ? RestoreAction::RemoveEmpty
                           : record.kind == JournalKind::FolderTimes ? RestoreAction::PutFolderTimes
                                                                     : RestoreAction::PutAttributes;
    steps[n++] = {action, record};
  }
  if (committed) {
    // Everything the run did stays; only the originals kept aside go, and
    // then their folders.
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
      if (steps[i].action == RestoreAction::PutBack)
        steps[kept++] = {RestoreAction::DeleteAside, steps[i].record};
      else if (steps[i].action == RestoreAction::RemoveEmpty)
        steps[kept++] = steps[i];
    }
    // Each folder after the files (a run makes one or two such folders).
    size_t end = kept;
    for (size_t i = 0; i < end;) {
      if (steps[i].action != RestoreAction::RemoveEmpty) {
        ++i;
        continue;
      }
      RestoreStep folder = steps[i];
      for (size_t j = i; j + 1 < kept; ++j) steps[j] = steps[j + 1];
      steps[kept - 1] = folder;
      --end;
    }
    n = kept;
  } else {
    for (size_t i = 0, j = n; i + 1 < j; ++i, --j) {
      RestoreStep swap = steps[i];
      steps[i] = steps[j - 1];
      steps[j - 1] = swap;
    }
  }
  *count = n;
  return true;
}

#include "engine/journal_records.h"

#include <cstring>

#include "base/little_endian.h"
#include "engine/paths.h"
#include "package/entry_name.h"

const uint8_t kJournalHeader[kJournalHeaderSize] = {'F', 'A', '2', 'J', 'R', 'N', 'L', 2};

namespace {

// Record layout, little-endian: kind, flags (bit 0: folder), the lengths of
// path, aside, place and aside place (terminators included), two reserved
// bytes, attributes, three times; then the four texts in that order and a
// check of all bytes before it.
constexpr size_t kCheckSize = 4;
constexpr size_t kTexts = 4;
static_assert(kJournalRecordFixed == 1 + 1 + 2 * kTexts + 2 + 4 + 3 * 8);
constexpr size_t kTimesAt = 16;

const size_t kCapacities[kTexts] = {kJournalPathCapacity, kJournalPathCapacity,
                                    kJournalPlaceCapacity, kJournalPlaceCapacity};

// FNV-1a: enough to tell a record cut short or half overwritten.
uint32_t Check(const uint8_t* bytes, size_t length) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

// Length of text with its terminator, or 0 when it does not fit capacity.
size_t StoredLength(const char* text, size_t capacity) {
  if (!text) text = "";
  for (size_t i = 0; i < capacity; ++i)
    if (text[i] == '\0') return i + 1;
  return 0;
}

// A stored text of length bytes: the terminator last and nowhere before.
bool IsStoredText(const uint8_t* text, size_t length, size_t capacity) {
  if (length == 0 || length > capacity) return false;
  return std::memchr(text, 0, length) == text + length - 1;
}

bool IsKnownKind(uint8_t kind) { return kind >= 1 && kind <= 7; }

}  // namespace

size_t EncodeJournalRecord(const JournalRecord& record, uint8_t* out) {
  const char* texts[kTexts] = {record.path, record.aside, record.place, record.asidePlace};
  size_t lengths[kTexts];
  for (size_t i = 0; i < kTexts; ++i) {
    if (!texts[i]) texts[i] = "";
    lengths[i] = StoredLength(texts[i], kCapacities[i]);
    if (lengths[i] == 0) return 0;
  }
  out[0] = static_cast<uint8_t>(record.kind);
  out[1] = record.folder ? 1 : 0;
  for (size_t i = 0; i < kTexts; ++i) Put16(out + 2 + 2 * i, static_cast<uint32_t>(lengths[i]));
  Put16(out + 10, 0);
  Put32(out + 12, record.attributes);
  for (int i = 0; i < 3; ++i) Put64(out + kTimesAt + 8 * i, record.times[i]);
  size_t at = kJournalRecordFixed;
  for (size_t i = 0; i < kTexts; ++i) {
    std::memcpy(out + at, texts[i], lengths[i]);
    at += lengths[i];
  }
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
  size_t length = kJournalRecordFixed;
  size_t lengths[kTexts];
  for (size_t i = 0; i < kTexts; ++i) length += lengths[i] = Get16(p + 2 + 2 * i);
  if (left < length + kCheckSize || !IsKnownKind(p[0]) || p[1] > 1 || Get16(p + 10) != 0 ||
      Get32(p + length) != Check(p, length))
    return false;
  const char* texts[kTexts];
  size_t at = kJournalRecordFixed;
  for (size_t i = 0; i < kTexts; ++i) {
    if (!IsStoredText(p + at, lengths[i], kCapacities[i])) return false;
    texts[i] = reinterpret_cast<const char*>(p + at);
    at += lengths[i];
  }
  record->kind = static_cast<JournalKind>(p[0]);
  record->folder = (p[1] & 1) != 0;
  record->attributes = Get32(p + 12);
  for (int i = 0; i < 3; ++i) record->times[i] = Get64(p + kTimesAt + 8 * i);
  record->path = texts[0];
  record->aside = texts[1];
  record->place = texts[2];
  record->asidePlace = texts[3];
  reader->offset += length + kCheckSize;
  return true;
}

size_t MaxRestoreSteps(size_t size) {
  // Each record takes at least the fixed part, its terminators and the check.
  return size / (kJournalRecordFixed + kTexts + kCheckSize) + 1;
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
    if (record.kind == JournalKind::Committed || record.kind == JournalKind::Retracted) {
      committed = record.kind == JournalKind::Committed;
      continue;
    }
    bool inside = PathInside(root, record.path);
    // A folder copy resets the attributes of the installation folder itself,
    // and every run changes what it holds.
    if (record.kind == JournalKind::Attributes || record.kind == JournalKind::FolderTimes)
      inside = inside || SameEntryName(root, record.path);
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

// libFuzzer target: PlanRestore on any bytes (a journal damaged on disk, or
// not one at all) reads nothing outside an exact-size copy of them, and a
// plan it makes only names paths inside the installation folder, each
// terminated inside the bytes, at most MaxRestoreSteps of them; every record
// read back encodes to exactly the bytes it was read from.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/journal_records.h"
#include "engine/paths.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

const char* const kRoot = "C:\\GAME";

bool InBytes(const ExactBlock& block, const char* text) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  if (p < block.data || p >= block.data + block.size) return false;
  return std::memchr(p, 0, block.data + block.size - p) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Half the inputs get the header in front, so that records are reached.
  std::vector<uint8_t> input;
  if (size > 0 && (data[0] & 1)) input.assign(kJournalHeader, kJournalHeader + kJournalHeaderSize);
  if (size > 0) input.insert(input.end(), data + 1, data + size);
  ExactBlock bytes(input.data(), input.size());

  JournalReader reader;
  if (OpenJournalBytes(bytes.data, bytes.size, &reader)) {
    size_t at = reader.offset;
    JournalRecord record;
    while (NextJournalRecord(&reader, &record)) {
      FUZZ_CHECK(InBytes(bytes, record.path) && InBytes(bytes, record.aside));
      uint8_t encoded[kJournalRecordMax];
      size_t length = EncodeJournalRecord(record, encoded);
      FUZZ_CHECK(length == reader.offset - at);
      FUZZ_CHECK(SameBytes(encoded, bytes.data + at, length));
      at = reader.offset;
    }
  }

  size_t capacity = MaxRestoreSteps(bytes.size);
  std::vector<RestoreStep> steps(capacity);
  size_t count = 0;
  if (PlanRestore(bytes.data, bytes.size, kRoot, steps.data(), &count)) {
    FUZZ_CHECK(count <= capacity);
    for (size_t i = 0; i < count; ++i) {
      const JournalRecord& record = steps[i].record;
      FUZZ_CHECK(InBytes(bytes, record.path));
      // Only the installation folder's own attributes and times.
      bool ofRoot = (steps[i].action == RestoreAction::PutAttributes ||
                     steps[i].action == RestoreAction::PutFolderTimes) &&
                    std::strcmp(record.path, kRoot) == 0;
      FUZZ_CHECK(PathInside(kRoot, record.path) || ofRoot);
      if (steps[i].action == RestoreAction::PutBack || steps[i].action == RestoreAction::DeleteAside)
        FUZZ_CHECK(PathInside(kRoot, record.aside));
    }
  } else {
    FUZZ_CHECK(count == 0);
  }
  return 0;
}

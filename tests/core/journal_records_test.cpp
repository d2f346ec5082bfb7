#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/journal_records.h"

namespace {

const char* const kRoot = "C:\\GAME";

std::vector<uint8_t> Journal(const std::vector<JournalRecord>& records) {
  std::vector<uint8_t> bytes(kJournalHeader, kJournalHeader + kJournalHeaderSize);
  for (const JournalRecord& record : records) {
    uint8_t out[kJournalRecordMax];
    size_t length = EncodeJournalRecord(record, out);
    EXPECT_NE(length, 0u) << record.path;
    bytes.insert(bytes.end(), out, out + length);
  }
  return bytes;
}

// The plan as "action path" lines.
std::vector<std::string> Plan(const std::vector<uint8_t>& bytes, bool* ok = nullptr) {
  std::vector<RestoreStep> steps(MaxRestoreSteps(bytes.size()));
  size_t count = 99;
  bool planned = PlanRestore(bytes.data(), bytes.size(), kRoot, steps.data(), &count);
  if (ok) *ok = planned;
  const char* names[] = {"put-back",     "remove",      "attributes",
                         "delete-aside", "remove-empty", "folder-times"};
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i)
    lines.push_back(std::string(names[static_cast<int>(steps[i].action)]) + " " +
                    steps[i].record.path);
  return lines;
}

const JournalRecord kAsideFolder{JournalKind::AsideFolder, true, 0, {}, "C:\\GAME\\~UPDATE.TMP", ""};
const JournalRecord kAside{JournalKind::MovedAside, false, 0x21, {1, 2, 0x01C0A1B2C3D4E5F6},
                           "C:\\GAME\\DATA\\A.DAT", "C:\\GAME\\~UPDATE.TMP\\~FU00001.TMP"};
const JournalRecord kAside2{JournalKind::MovedAside, false, 0x20, {}, "C:\\GAME\\B.DAT",
                            "C:\\GAME\\~UPDATE.TMP\\~FU00002.TMP"};
const JournalRecord kNewFolder{JournalKind::Created, true, 0, {}, "C:\\GAME\\BONUS", ""};
const JournalRecord kNewFile{JournalKind::Created, false, 0, {}, "C:\\GAME\\README.TXT", ""};
const JournalRecord kRootAttributes{JournalKind::Attributes, false, 0x10, {}, "C:\\GAME", ""};
const JournalRecord kRootTimes{JournalKind::FolderTimes, true, 0, {1, 2, 3}, "C:\\GAME", ""};
const JournalRecord kDataTimes{JournalKind::FolderTimes, true, 0, {4, 5, 6}, "C:\\GAME\\DATA", ""};
const JournalRecord kCommitted{JournalKind::Committed, false, 0, {}, "C:\\GAME", ""};
const JournalRecord kRetracted{JournalKind::Retracted, false, 0, {}, "C:\\GAME", ""};

}  // namespace

TEST(JournalRecords, ReadBackWholeRecordsOnlyWhereverTheJournalIsCut) {
  std::vector<uint8_t> bytes = Journal({kAside, kNewFolder, kNewFile});
  // Where each record ends: a journal cut anywhere yields exactly the
  // records that lie whole before the cut.
  std::vector<size_t> ends;
  JournalReader reader;
  ASSERT_TRUE(OpenJournalBytes(bytes.data(), bytes.size(), &reader));
  JournalRecord record;
  ASSERT_TRUE(NextJournalRecord(&reader, &record));
  EXPECT_EQ(record.kind, JournalKind::MovedAside);
  EXPECT_EQ(record.attributes, 0x21u);
  EXPECT_FALSE(record.folder);
  EXPECT_EQ(record.times[2], 0x01C0A1B2C3D4E5F6u);
  EXPECT_STREQ(record.aside, kAside.aside);
  ends.push_back(reader.offset);
  while (NextJournalRecord(&reader, &record)) ends.push_back(reader.offset);
  ASSERT_EQ(ends.size(), 3u);
  EXPECT_EQ(ends.back(), bytes.size());
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    size_t whole = 0;
    if (OpenJournalBytes(bytes.data(), cut, &reader))
      while (NextJournalRecord(&reader, &record)) ++whole;
    size_t expected = 0;
    for (size_t end : ends) expected += end <= cut;
    ASSERT_EQ(whole, expected) << "cut at " << cut;
  }
  // A damaged byte anywhere in a record ends the reading before it.
  for (size_t at = ends[0]; at < ends[1]; ++at) {
    std::vector<uint8_t> damaged = bytes;
    damaged[at] ^= 0x40;
    ASSERT_TRUE(OpenJournalBytes(damaged.data(), damaged.size(), &reader));
    size_t whole = 0;
    while (NextJournalRecord(&reader, &record)) ++whole;
    EXPECT_EQ(whole, 1u) << "damaged at " << at;
  }
}

TEST(JournalRecords, EncodingRefusesPathsLongerThanAPathBuffer) {
  uint8_t out[kJournalRecordMax];
  std::string longest = "C:\\" + std::string(kJournalPathCapacity - 4, 'P');
  std::string tooLong = longest + "P";
  EXPECT_NE(EncodeJournalRecord({JournalKind::Created, false, 0, {}, longest.c_str(), ""}, out), 0u);
  EXPECT_EQ(EncodeJournalRecord({JournalKind::Created, false, 0, {}, tooLong.c_str(), ""}, out), 0u);
  EXPECT_EQ(EncodeJournalRecord({JournalKind::MovedAside, false, 0, {}, "C:\\GAME\\A", tooLong.c_str()}, out), 0u);
}

TEST(JournalRecords, RestorePlans) {
  struct Case {
    const char* name;
    std::vector<JournalRecord> records;
    bool planned;
    std::vector<std::string> steps;
  } cases[] = {
      {"undone backwards, each folder's times after what changed in it",
       {kRootTimes, kAsideFolder, kDataTimes, kAside, kRootAttributes, kNewFolder, kNewFile}, true,
       {"remove C:\\GAME\\README.TXT", "remove C:\\GAME\\BONUS", "attributes C:\\GAME",
        "put-back C:\\GAME\\DATA\\A.DAT", "folder-times C:\\GAME\\DATA",
        "remove-empty C:\\GAME\\~UPDATE.TMP", "folder-times C:\\GAME"}},
      {"committed: what was kept aside goes, then its folder; no times come back",
       {kRootTimes, kAsideFolder, kDataTimes, kAside, kNewFile, kAside2, kCommitted}, true,
       {"delete-aside C:\\GAME\\DATA\\A.DAT", "delete-aside C:\\GAME\\B.DAT",
        "remove-empty C:\\GAME\\~UPDATE.TMP"}},
      {"a completion mark taken back: undone as if it were not there",
       {kRootTimes, kAsideFolder, kAside, kNewFile, kCommitted, kRetracted}, true,
       {"remove C:\\GAME\\README.TXT", "put-back C:\\GAME\\DATA\\A.DAT",
        "remove-empty C:\\GAME\\~UPDATE.TMP", "folder-times C:\\GAME"}},
      {"header only", {}, true, {}},
      {"a path outside the installation", {kNewFile, {JournalKind::Created, false, 0, {}, "C:\\GAME\\..\\WINDOWS", ""}},
       false, {}},
      {"an aside outside the installation",
       {{JournalKind::MovedAside, false, 0, {}, "C:\\GAME\\A.DAT", "C:\\OTHER\\A.DAT"}}, false, {}},
      {"times of a folder outside the installation",
       {{JournalKind::FolderTimes, true, 0, {}, "C:\\", ""}}, false, {}},
      {"the installation folder is no file of it",
       {{JournalKind::Created, true, 0, {}, "C:\\GAME", ""}}, false, {}},
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(Plan(Journal(c.records), &ok), c.steps) << c.name;
    EXPECT_EQ(ok, c.planned) << c.name;
  }
  bool ok = true;
  std::vector<uint8_t> notAJournal = {'F', 'A', '2', 'X', 0, 0, 0, 0};
  EXPECT_TRUE(Plan(notAJournal, &ok).empty());
  EXPECT_FALSE(ok);
}

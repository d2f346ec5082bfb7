// The update engine stopped at every operation. Over generated installations
// and scripts (replaced, new and read-only files, new folders, Japanese
// names whose second byte is 0x5C, items with "..", leading and doubled
// backslashes, an installation folder ending in such a character or reached
// through a link, a disc copy over an existing folder, a failure injected at
// a random call), each run is recorded on the simulated file system; then,
// for every prefix of its changes, the state a killed process leaves and the
// states a power cut can leave (tests/support/sim_file_system.h) are
// recovered as the next start recovers them, and each must be exactly the
// old or exactly the new installation: every file's contents, times and
// attributes, every folder, nothing more or less, no journal, no work
// folder, and nothing outside the installation changed. The recovery itself
// is killed at each of its own changes and recovered again. Links planted
// over the installation's folders, after a kill or in the middle of a run,
// must never lead a change outside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "config/update_items.h"
#include "engine/journal.h"
#include "engine/journal_records.h"
#include "engine/paths.h"
#include "engine/update_engine.h"
#include "engine/update_sequence.h"
#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tests/support/sim_file_system.h"

namespace {

constexpr int kScenarios = 120;     // generated installations and scripts
constexpr int kFailedRunsEach = 2;  // runs with a failure injected, beside the plain one
constexpr uint64_t kTime = 0x01C0000000000000ull;

const char* const kOutside = "C:\\OUTSIDE";

struct Scenario {
  uint32_t seed = 0;
  std::string root;  // the installation folder, as the registry gives it
  SimState initial;
  std::vector<uint8_t> packageBytes;
  UpdatePackage* package = nullptr;
  UpdateLists lists{};
  bool overwriteOnly = false;
  std::string script;  // the items, for messages
};

// --- generating ---------------------------------------------------------------

struct Rng {
  std::mt19937 engine;
  explicit Rng(uint32_t seed) : engine(seed) {}
  int Below(int n) { return static_cast<int>(engine() % static_cast<uint32_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& from) {
    return from[Below(static_cast<int>(from.size()))];
  }
};

// Names with and without double-byte characters; 表, ソ, 能 and 十 end in
// byte 0x5C.
const std::vector<std::string> kFolders = {"DATA", "表示", "SAVE", "ソフト"};
const std::vector<std::string> kNames = {"A.DAT",  "B.DAT",  "MAZE.DAT",  "能力.DAT",
                                         "十.TXT", "表.BIN", "README.TXT"};

std::string Contents(Rng& rng) {
  std::string text;
  for (int i = 0, n = 4 + rng.Below(24); i < n; ++i) text += static_cast<char>('a' + rng.Below(26));
  return text;
}

FsTimes SomeTimes(Rng& rng) {
  uint64_t t = kTime + static_cast<uint64_t>(rng.Below(1000000)) * 10000000ull;
  return {t, t + 1, t + 2};
}

uint32_t SomeAttributes(Rng& rng) {
  return rng.Chance(20) ? kFsReadOnly | kFsArchive : rng.Chance(10) ? kFsHidden : kFsArchive;
}

void AddValue(Scenario& s, const std::string& value, bool copy) {
  UpdateLists& l = s.lists;
  if (copy) {
    l.anyCopyKey = true;
    if (ParseCopyValue(value.c_str(), 0, l.copies[l.copyCount])) ++l.copyCount;
  } else {
    l.anyUpdateKey = true;
    if (ParseUpdateValue(value.c_str(), 0, l.updates[l.updateCount])) ++l.updateCount;
  }
  s.script += (copy ? " Copy=" : " Update=") + value;
}

Scenario Generate(uint32_t seed) {
  Rng rng(seed);
  Scenario s;
  s.seed = seed;
  SimState& st = s.initial;
  // Where the game lies: plainly, in a folder whose last character ends in
  // 0x5C, or moved to another drive behind a link made before the run.
  int where = rng.Below(4);
  std::string real;
  if (where == 0) s.root = real = "C:\\GAME";
  if (where == 1) s.root = real = "C:\\ゲーム\\一覧表";
  if (where == 2) s.root = real = "C:\\ソフト\\予\\";
  if (where == 3) {
    s.root = "C:\\MOVED";
    real = "E:\\GAMES\\十";
  }
  SimAddFolder(st, "D:\\");
  SimAddFolder(st, real, rng.Chance(30) ? kFsFolder | kFsArchive : kFsFolder);
  if (where == 3) SimPlantLink(st, s.root, real);
  // The installation.
  std::vector<std::string> folders = {""};
  for (const std::string& folder : kFolders)
    if (rng.Chance(70)) {
      SimAddFolder(st, real + "\\" + folder);
      folders.push_back(folder + "\\");
    }
  std::vector<std::string> files;
  for (const std::string& folder : folders)
    for (const std::string& name : kNames)
      if (rng.Chance(35)) {
        SimAddFile(st, real + "\\" + folder + name, Contents(rng), SomeAttributes(rng),
                   SomeTimes(rng));
        files.push_back(folder + name);
      }
  // Beside it, what no run may change: folders and files of the same names.
  for (const std::string& folder : kFolders)
    for (const std::string& name : kNames)
      SimAddFile(st, std::string(kOutside) + "\\" + folder + "\\" + name, "outside " + name,
                 kFsArchive, {kTime, kTime, kTime});
  SimAddFile(st, std::string(kOutside) + "\\README.TXT", "outside", kFsArchive,
             {kTime, kTime, kTime});

  // The update items: replaced, new, written twice, spelled with "..", a
  // leading or a doubled backslash; now and then one not in the package, one
  // in a folder that does not exist, one of another install mode, one that
  // lands outside.
  std::vector<std::string> entries;
  int items = 1 + rng.Below(6);
  for (int i = 0; i < items; ++i) {
    std::string path;
    int kind = rng.Below(10);
    if (kind <= 3 && !files.empty()) path = rng.Pick(files);
    else path = rng.Pick(folders) + rng.Pick(kNames);
    if (kind == 4) path = "DATA\\..\\" + path;
    if (kind == 5) path = "\\" + path;
    if (kind == 6 && path.find('\\') != std::string::npos) path.insert(path.find('\\'), "\\");
    if (kind == 7 && rng.Chance(30)) path = "NOFOLDER\\" + path;
    std::string name =
        path.substr(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\') + 1);
    if (rng.Chance(8)) name = path = "MISSING.DAT";
    else if (rng.Chance(4)) path = "..\\OUTSIDE\\" + name;
    else entries.push_back(name);
    AddValue(s, rng.Chance(10) ? "1," + path : path, false);
  }
  if (rng.Chance(20) && s.lists.updateCount > 0) AddValue(s, s.lists.updates[0].path, false);
  s.overwriteOnly = rng.Chance(15);

  // A disc: a folder copied over one of the installation, a file landing in
  // folders that do not exist yet, now and then a name that code page 932
  // cannot spell.
  if (rng.Chance(60)) {
    std::string folder = rng.Pick(kFolders);
    for (const std::string& name : kNames)
      if (rng.Chance(40))
        SimAddFile(st, "D:\\" + folder + "\\" + name, Contents(rng), kFsReadOnly | kFsArchive,
                   SomeTimes(rng));
    SimAddFile(st, "D:\\" + folder + "\\SUB\\ZZ.DAT", Contents(rng), kFsArchive, SomeTimes(rng));
    if (rng.Chance(10))
      SimAddFile(st, "D:\\" + folder + "\\ZOE.TXT", "x", kFsArchive, SomeTimes(rng), true);
    AddValue(s, "1:" + folder, true);
  }
  if (rng.Chance(30)) {
    SimAddFile(st, "D:\\BONUS\\SUB\\X.DAT", Contents(rng), kFsReadOnly, SomeTimes(rng));
    AddValue(s, "1:BONUS\\SUB\\X.DAT", true);
  }

  // The package: every entry the items name, but the missing one.
  std::vector<std::string> data;
  std::vector<PackageInput> inputs;
  for (const std::string& name : entries) {
    bool known = false;
    for (const PackageInput& input : inputs) known = known || input.name == name;
    if (known) continue;
    data.push_back(Contents(rng) + name);
  }
  size_t d = 0;
  for (const std::string& name : entries) {
    bool known = false;
    for (const PackageInput& input : inputs) known = known || input.name == name;
    if (known) continue;
    inputs.push_back(
        {name, kTime + seed, reinterpret_cast<const uint8_t*>(data[d].data()), data[d].size()});
    ++d;
  }
  std::string error;
  PackageOptions options;
  options.store = !rng.Chance(12);  // compressed now and then: each takes a 1 MiB buffer
  BuildPackage(inputs, options, &s.packageBytes, &error);
  s.package = OpenPackage(s.packageBytes.data(), static_cast<uint32_t>(s.packageBytes.size()));
  return s;
}

// --- running ------------------------------------------------------------------

UpdateEngine engine;

enum class Outcome { Completed, Failed };

// The run's own sequence, with the disc in drive D:.
bool FindDisc(void*, int32_t, char (&root)[kPathCapacity]) { return CopyText(root, "D:"); }
bool ProgramFolder(void*, char (&root)[kPathCapacity]) { return CopyText(root, "D:"); }
void Nothing(void*) {}
void NothingWithBytes(void*, uint64_t) {}
void CopyPlanned(void*, const CopyItem&, uint64_t) {}

Outcome RunOnce(const Scenario& s) {
  PackageView view{s.package, s.packageBytes.data(), static_cast<uint32_t>(s.packageBytes.size())};
  const RunHooks hooks{nullptr,       nullptr,     NothingWithBytes, Nothing, FindDisc,
                       ProgramFolder, CopyPlanned, Nothing,          nullptr, nullptr};
  RunResult result =
      RunUpdateItems(&engine, s.root.c_str(), view, s.lists, s.overwriteOnly, hooks);
  if (result.end == RunEnd::Completed) return Outcome::Completed;
  RollbackUpdate(&engine);
  return Outcome::Failed;
}

// --- judging ------------------------------------------------------------------

struct Counts {
  long runs = 0, kills = 0, powerCuts = 0, recoveriesKilled = 0, recoveriesFailed = 0,
       linkStates = 0, failures = 0;
};
Counts counts;
uint64_t currentFailAt = 0;  // the call failing in the run explored

using Description = std::map<std::string, std::string>;

struct Expected {
  Description oldFiles, oldWithTimes, newFiles, outside;
};

// Whether state is the old installation (its folders' times too, when
// folderTimes) and whether it is the new one.
struct Verdict {
  bool old;
  bool isNew;
  bool Mixed() const { return !old && !isNew; }
};

Verdict Judge(const SimState& state, const Expected& expected, bool folderTimes) {
  Description files = SimDescribe(state, "", false);
  bool old = files == expected.oldFiles &&
             (!folderTimes || SimDescribe(state, "", true) == expected.oldWithTimes);
  return {old, files == expected.newFiles};
}

std::string Difference(const Description& got, const Description& want) {
  std::string text;
  for (const auto& [path, value] : want) {
    auto found = got.find(path);
    if (found == got.end()) text += "\n  missing " + path + ": " + value;
    else if (found->second != value)
      text += "\n  " + path + ": " + found->second + " (want " + value + ")";
  }
  for (const auto& [path, value] : got)
    if (!want.count(path)) text += "\n  more " + path + ": " + value;
  return text;
}

bool Report(const Scenario& s, const std::string& what, const SimState& state,
            const Expected& expected) {
  if (++counts.failures > 5) return false;
  Description got = SimDescribe(state, "", false);
  ADD_FAILURE() << "seed " << s.seed << " failing call " << currentFailAt << " root " << s.root
                << " script" << s.script << ": " << what
                << "\nagainst the old installation:" << Difference(got, expected.oldFiles)
                << "\nagainst its folders' times:"
                << Difference(SimDescribe(state, "", true), expected.oldWithTimes)
                << "\nagainst the new:" << Difference(got, expected.newFiles);
  return false;
}

// True when the journal in state holds at least its first record, the
// installation folder's times: the recovery gives the folders' times back
// from then on. (Before, no folder has changed; after the journal is gone, a
// kill before the last step leaves the installation folder's write time as
// the deletion made it.)
bool JournalHoldsTimes(const SimState& state, const std::string& root) {
  char normal[kPathCapacity];
  NormalPath(root.c_str(), normal);
  int journal = SimFind(state, std::string(normal) + "\\" + kJournalName);
  return journal >= 0 &&
         state.nodes[journal].data.size() > kJournalHeaderSize + kJournalRecordFixed;
}

// Recovers state as the next start does and judges the result; with
// killRecovery, also kills that recovery at each of its changes and
// recovers again.
bool Recover(const Scenario& s, const SimState& state, const Expected& expected, bool folderTimes,
             bool killRecovery, const std::string& what) {
  SimReset(state);
  Recovery recovery = RecoverInstallation(s.root.c_str());
  if (recovery == Recovery::CannotUndo || SimAnythingOpen())
    return Report(s, what + ": the recovery gave up", sim.state, expected);
  SimState after = sim.state;
  if (Judge(after, expected, folderTimes).Mixed())
    return Report(s, what + ": recovered to a mixed installation", after, expected);
  if (!killRecovery) return true;
  std::vector<SimChange> log = sim.log;
  // Each call of the recovery failing in turn, as a held file or a full
  // disk makes it fail: the installation is never left mixed, the start
  // after it recovers, and one that only has to drop a completed run's
  // originals later says nothing and leaves the new installation.
  for (uint64_t f = 1, calls = sim.calls; f <= calls; ++f) {
    ++counts.recoveriesFailed;
    SimReset(state);
    sim.failAt = f;
    Recovery first = RecoverInstallation(s.root.c_str());
    bool open = SimAnythingOpen();
    SimState left = sim.state;
    SimReset(left);
    Recovery second = RecoverInstallation(s.root.c_str());
    Verdict verdict = Judge(sim.state, expected, false);
    if (open || second == Recovery::CannotUndo || second == Recovery::DropPending ||
        verdict.Mixed() || (first == Recovery::DropPending && !verdict.isNew))
      return Report(s, what + ": its recovery failing at call " + std::to_string(f), sim.state,
                    expected);
  }
  for (size_t j = 0; j < log.size(); ++j) {
    ++counts.recoveriesKilled;
    SimState killed = SimReplay(state, log, j);
    SimReset(killed);
    if (RecoverInstallation(s.root.c_str()) == Recovery::CannotUndo ||
        Judge(sim.state, expected, false).Mixed())
      return Report(s, what + ": its recovery killed at change " + std::to_string(j), sim.state,
                    expected);
  }
  return true;
}

// Power cuts after the first count changes: every number of the metadata
// changes since the last flush kept (a few of them where there are many),
// with the data written since each file's last flush there, cut short,
// lost or zeros. A state already recovered (the same flush, the same metadata kept,
// no data in doubt) is not made again.
bool PowerCuts(const Scenario& s, const std::vector<SimChange>& log, size_t count,
               const Expected& expected, std::set<std::pair<size_t, size_t>>* seen) {
  size_t after = SimMetadataAfterLastFlush(log, count);
  size_t flushedUpTo = count - SimChangesAfterLastFlush(log, count);
  bool dataInDoubt = SimUnflushedWrites(log, count);
  for (size_t m = 0; m <= after; ++m) {
    if (after > 6 && m >= 3 && m + 3 <= after && m != after / 2) continue;
    if (!dataInDoubt && !seen->insert({flushedUpTo, m}).second) continue;
    for (PowerCut::Data data :
         {PowerCut::AllThere, PowerCut::CutShort, PowerCut::Lost, PowerCut::Zeroed}) {
      if (!dataInDoubt && data != PowerCut::AllThere) break;
      ++counts.powerCuts;
      PowerCut cut{m, data};
      SimState state = SimReplay(s.initial, log, count, &cut);
      if (!Recover(s, state, expected, false, false,
                   "a power cut after change " + std::to_string(count) + " keeping " +
                       std::to_string(m) + " metadata changes, data " +
                       "ACLZ"[static_cast<int>(data)]))
        return false;
    }
  }
  return true;
}

// Folders of the installation that a link may be planted over after a kill:
// the recovery must change nothing outside (it gives up where a place has
// changed).
bool PlantedLinks(const Scenario& s, const SimState& state, const Expected& expected) {
  for (const std::string& folder : kFolders) {
    char normal[kPathCapacity];
    NormalPath(s.root.c_str(), normal);
    std::string path = std::string(normal) + "\\" + folder;
    if (SimFind(state, path) < 0) continue;
    for (bool unknown : {false, true}) {
      ++counts.linkStates;
      SimState planted = state;
      SimPlantLink(planted, path, std::string(kOutside) + "\\" + folder);
      SimReset(planted);
      sim.placesUnknown = unknown;
      RecoverInstallation(s.root.c_str());
      if (SimDescribe(sim.state, kOutside, true) != expected.outside || SimAnythingOpen())
        return Report(s, "a link over " + folder + " led the recovery outside", sim.state,
                      expected);
    }
  }
  return true;
}

// One run of s (with the call failAt failing), and every state its changes
// can leave.
bool Explore(const Scenario& s, uint64_t failAt, const Expected& expected) {
  ++counts.runs;
  currentFailAt = failAt;
  SimReset(s.initial);
  sim.failAt = failAt;
  Outcome outcome = RunOnce(s);
  if (SimAnythingOpen()) return Report(s, "the run left a file open", sim.state, expected);
  std::vector<SimChange> log = sim.log;
  SimState end = sim.state;
  // As the run ended (a journal kept by a restore that failed goes at the
  // next start): a completed run gives the new installation, a failed one
  // the old, folders' times included.
  // Folders' times are given back by steps of their own, whose failure
  // keeps no journal: they are judged where no call fails.
  bool folderTimes = failAt == 0;
  if (!Recover(s, end, expected, folderTimes && outcome == Outcome::Failed, false, "the run's end"))
    return false;
  Verdict verdict = Judge(sim.state, expected, folderTimes && outcome == Outcome::Failed);
  if (outcome == Outcome::Completed ? !verdict.isNew : !verdict.old)
    return Report(s, outcome == Outcome::Completed ? "completed, not new" : "failed, not old",
                  sim.state, expected);
  std::set<std::pair<size_t, size_t>> seen;
  for (size_t k = 0; k <= log.size(); ++k) {
    ++counts.kills;
    SimState killed = SimReplay(s.initial, log, k);
    if (!Recover(s, killed, expected, folderTimes && JournalHoldsTimes(killed, s.root), k % 3 == 0,
                 "a kill after change " + std::to_string(k)) ||
        !PowerCuts(s, log, k, expected, &seen))
      return false;
    if (failAt == 0 && k % 7 == 3 && !PlantedLinks(s, killed, expected)) return false;
  }
  return true;
}

// Links swapped in while the run goes on: nothing outside changes, and what
// the run leaves is recovered without leaving the installation either.
bool LinksDuringTheRun(const Scenario& s, size_t changes, const Expected& expected) {
  char normal[kPathCapacity];
  NormalPath(s.root.c_str(), normal);
  for (size_t at = 0; at < changes; at += 5) {
    for (const std::string& folder : kFolders) {
      std::string path = std::string(normal) + "\\" + folder;
      if (SimFind(s.initial, path) < 0) continue;
      ++counts.linkStates;
      SimReset(s.initial);
      sim.afterChange = [&](size_t index) {
        if (index == at) SimPlantLink(sim.state, path, std::string(kOutside) + "\\" + folder);
      };
      RunOnce(s);
      sim.afterChange = nullptr;
      SimState end = sim.state;
      SimReset(end);
      RecoverInstallation(s.root.c_str());
      if (SimDescribe(sim.state, kOutside, true) != expected.outside)
        return Report(s,
                      "a link over " + folder + " after change " + std::to_string(at) +
                          " led the run outside",
                      sim.state, expected);
      break;
    }
  }
  return true;
}

}  // namespace

TEST(CrashTest, EveryStateOfEveryRunRecoversToTheOldOrTheNewInstallation) {
  // CRASH_SEED=N explores the one installation N.
  const char* only = std::getenv("CRASH_SEED");
  for (int n = 0; n < kScenarios && counts.failures == 0; ++n) {
    if (only && 1000 + n != std::atoi(only)) continue;
    Scenario s = Generate(1000 + n);
    ASSERT_NE(s.package, nullptr) << s.seed;
    // The new installation: the run with nothing failing.
    SimReset(s.initial);
    Outcome outcome = RunOnce(s);
    size_t changes = sim.log.size();
    uint64_t calls = sim.calls;
    Expected expected;
    expected.oldFiles = SimDescribe(s.initial, "", false);
    expected.oldWithTimes = SimDescribe(s.initial, "", true);
    expected.newFiles = SimDescribe(sim.state, "", false);
    expected.outside = SimDescribe(s.initial, kOutside, true);
    bool completes = outcome == Outcome::Completed;
    if (!completes) expected.newFiles = expected.oldFiles;  // nothing new to reach
    Rng rng(s.seed);
    if (!Explore(s, 0, expected)) break;
    for (int f = 0; f < kFailedRunsEach; ++f)
      if (!Explore(s, 1 + rng.Below(static_cast<int>(calls)), expected)) break;
    if (!LinksDuringTheRun(s, changes, expected)) break;
    FreeBlock(s.package);
  }
  std::printf(
      "crash test: %d installations, %ld runs; recovered %ld killed states, %ld power-cut "
      "states, %ld killed and %ld failing recoveries; %ld planted links; %ld mixed or wrong\n",
      kScenarios, counts.runs, counts.kills, counts.powerCuts, counts.recoveriesKilled,
      counts.recoveriesFailed, counts.linkStates, counts.failures);
  EXPECT_EQ(counts.failures, 0);
}

// A journal or a work folder that other users may have written or changed
// (another owner, or an access list that lets them) is never acted on: at
// every kill of a run that left both, the start finds them, says which, and
// changes nothing at all; the journal and the work folder stay.
TEST(CrashTest, JournalsAndWorkFoldersOthersMayChangeAreNeverActedOn) {
  long tried = 0;
  for (int n = 0; n < 20; ++n) {
    Scenario s = Generate(2000 + n);
    ASSERT_NE(s.package, nullptr);
    SimReset(s.initial);
    RunOnce(s);
    std::vector<SimChange> log = sim.log;
    char root[kPathCapacity], journal[kPathCapacity], work[kPathCapacity];
    NormalPath(s.root.c_str(), root);
    RecordPathOf(root, kJournalName, journal);
    RecordPathOf(root, kWorkFolderName, work);
    for (size_t k = 0; k < log.size(); k += 3) {
      SimState killed = SimReplay(s.initial, log, k);
      int journalNode = SimFind(killed, journal), workNode = SimFind(killed, work);
      if (journalNode < 0 || workNode < 0 || killed.nodes[journalNode].data.size() <= 8) continue;
      for (bool journalShared : {true, false}) {
        SimState marked = killed;
        SimMarkShared(marked, journalShared ? journal : work);
        SimReset(marked);
        Recovery recovery = RecoverInstallation(s.root.c_str());
        ++tried;
        EXPECT_EQ(recovery, journalShared ? Recovery::SharedJournal : Recovery::SharedWorkFolder)
            << s.seed << " kill " << k;
        EXPECT_EQ(SimDescribe(sim.state, "", true), SimDescribe(marked, "", true))
            << s.seed << " kill " << k << (journalShared ? ": journal" : ": work folder");
        EXPECT_FALSE(SimAnythingOpen());
      }
    }
    FreeBlock(s.package);
  }
  EXPECT_GT(tried, 20);
}

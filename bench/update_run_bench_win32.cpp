// Time of an update run into an installation that holds older versions of
// all its files: one 139,309,060-byte entry and 15 small ones written from
// the package, and a folder of 185 small files copied by the shell, as from
// a disc. Done twice in the same process and interleaved: plainly (each
// entry extracted through a temporary that replaces it, the folder copied
// over the old one, as runs were written before the journal) and as the run
// writes now (the journal on the disk first, the originals renamed aside,
// each entry written in its place and flushed, the copy planned in the
// journal and its files flushed, the progress advanced and the window's
// messages handed on after every piece, the originals dropped at
// completion). Every run starts with the installation on the disk. Prints
// each round with the journaled run's own phases, the ratio of the medians
// and the median of the rounds' ratios (journaled over plain; the two runs
// of a round are the closest in time, so the machine's drift cancels best
// there).
//
//   update_run_bench make PACKAGE              deterministic data and its package
//   update_run_bench run PACKAGE FOLDER [N]    N rounds of both (default 5)
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "base/crc32.h"
#include "bench/synthetic_entry.h"
#include "config/update_items.h"
#include "engine/update_engine.h"
#include "engine/update_sequence.h"
#include "package/block.h"
#include "package/extract_entry.h"
#include "package/open_package.h"
#include "package/package_digests.h"
#include "package/package_writer.h"
#include "wizard/run_progress.h"
#include "wizard/update_run.h"

namespace {

constexpr int kSmallFiles = 200;
constexpr int kEntries =
    kListKeys - 1;  // small files written from the package; the rest are copied

std::string SmallName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "F%03d.DAT", i);
  return name;
}

// Small file i: 2 to 64 KiB of the synthetic text.
std::vector<uint8_t> SmallData(const std::vector<uint8_t>& text, int i) {
  size_t size = 2048 + static_cast<size_t>(i) * 62 * 1024 / kSmallFiles * 5 % (62 * 1024);
  size_t from = static_cast<size_t>(i) * 7919 % (text.size() - size);
  return std::vector<uint8_t>(text.begin() + from, text.begin() + from + size);
}

bool WriteAll(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

int Make(const char* packagePath) {
  std::vector<uint8_t> big = MakeSyntheticEntry();
  std::vector<std::vector<uint8_t>> small;
  std::vector<PackageInput> inputs = {{"GAME.DAT", 0x01D0000000000000ull, big.data(), big.size()}};
  std::vector<std::string> names;
  for (int i = 0; i < kEntries; ++i) {
    small.push_back(SmallData(big, i));
    names.push_back(SmallName(i));
  }
  for (int i = 0; i < kEntries; ++i)
    inputs.push_back({names[i].c_str(), 0x01D0000000000000ull, small[i].data(), small[i].size()});
  PackageOptions options;
  options.level = 1;
  std::vector<uint8_t> package;
  std::string error;
  if (!BuildPackage(inputs, options, &package, &error)) {
    std::printf("build failed: %s\n", error.c_str());
    return 1;
  }
  std::printf("package of %d entries, %zu bytes\n", kEntries + 1, package.size());
  return WriteAll(packagePath, package.data(), package.size()) ? 0 : 1;
}

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

// The files of the run, relative to the installation: the entries, then the
// copied folder's files.
std::vector<std::string> Files() {
  std::vector<std::string> files = {"GAME.DAT"};
  for (int i = 0; i < kSmallFiles; ++i)
    files.push_back((i < kEntries ? "" : "SMALL\\") + SmallName(i));
  return files;
}

// The installation before the run: an older version of every file.
bool Prepare(const std::string& game) {
  std::string old(4096, 'o');
  CreateDirectoryA((game + "\\SMALL").c_str(), nullptr);
  int i = 0;
  for (const std::string& file : Files())
    if (!WriteAll(game + "\\" + file, old.data(), 100 + i++)) return false;
  return true;
}

// The disc's folder: the new versions of the copied files, made once.
bool MakeDisc(const std::string& disc, const std::vector<uint8_t>& text) {
  CreateDirectoryA(disc.c_str(), nullptr);
  CreateDirectoryA((disc + "\\SMALL").c_str(), nullptr);
  for (int i = kEntries; i < kSmallFiles; ++i) {
    std::vector<uint8_t> data = SmallData(text, i);
    if (!WriteAll(disc + "\\SMALL\\" + SmallName(i), data.data(), data.size())) return false;
  }
  return true;
}

// Puts every file of the installation on the disk, untimed, so that each
// run starts as a player's does: nothing of an earlier run still waiting to
// be written, competing for the disk.
void Settle(const std::string& game) {
  for (const std::string& file : Files()) {
    HANDLE handle = CreateFileA((game + "\\" + file).c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    FlushFileBuffers(handle);
    CloseHandle(handle);
  }
}

// The update script's lists: an UpdateFileXX per entry, one CopyFileXX.
UpdateLists Lists() {
  UpdateLists lists{};
  std::vector<std::string> files = Files();
  for (int i = 0; i <= kEntries; ++i)
    ParseUpdateValue(files[i].c_str(), 0, lists.updates[lists.updateCount++]);
  ParseCopyValue("SMALL", 0, lists.copies[lists.copyCount++]);
  lists.anyUpdateKey = lists.anyCopyKey = true;
  return lists;
}

std::string AsList(const std::string& path) { return path + std::string(1, '\0'); }

// A path of this program's as the shell takes it (ASCII here).
std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

bool PlainRun(HWND dialog, const std::string& game, const std::string& disc) {
  UpdateLists lists = Lists();
  for (int i = 0; i < lists.updateCount; ++i) {
    std::string path = game + "\\" + lists.updates[i].path;
    if (!ExtractEntry(lists.updates[i].path + lists.updates[i].nameOffset, path.c_str()))
      return false;
  }
  // The shell's copy, as a plain installer makes it.
  std::wstring from = Wide(disc + "\\SMALL") + L'\0', to = Wide(game) + L'\0';
  SHFILEOPSTRUCTW operation{};
  operation.hwnd = dialog;
  operation.wFunc = FO_COPY;
  operation.pFrom = from.c_str();
  operation.pTo = to.c_str();
  operation.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI | FOF_SILENT;
  return SHFileOperationW(&operation) == 0;
}

void PieceWritten(void*, uint32_t bytes) { ProgressAdvance(bytes); }

// The calls the update run makes, in its order.
struct Phases {
  double journal;  // planning, the records on the disk and the originals moved aside
  double entries;  // writing the entries, each flushed
  double copy;     // planning the copy, the shell's copy and its files flushed
  double drop;     // the completion record and the originals dropped
} phases;

UpdateEngine engine;

// The run's own sequence (engine/update_sequence.h), its phases timed by
// its hooks, with the wizard's progress and message pumping.
struct Clock {
  HWND dialog;
  const char* disc;
  double start, planned, written, copied;
};
void Begun(void* context, uint64_t total) {
  Clock& c = *static_cast<Clock*>(context);
  c.planned = Now();
  ProgressBegin(c.dialog, total);
}
void ItemWritten(void*) { PumpMessages(); }
bool FindDisc(void* context, int32_t, char (&root)[kPathCapacity]) {
  return CopyText(root, static_cast<Clock*>(context)->disc);
}
bool ProgramFolder(void* context, char (&root)[kPathCapacity]) {
  return CopyText(root, static_cast<Clock*>(context)->disc);
}
void CopyPlanned(void* context, const CopyItem&, uint64_t bytes) {
  static_cast<Clock*>(context)->written = Now();
  ProgressAddTotal(bytes);
}
void CopyEnded(void* context) {
  static_cast<Clock*>(context)->copied = Now();
  ProgressEnd();
}

bool JournaledRun(HWND dialog, const std::string& game, const std::string& disc) {
  Clock clock{dialog, disc.c_str(), Now(), 0, 0, 0};
  Progress progress{PieceWritten, nullptr};
  const RunHooks hooks{&clock,        &progress,   Begun,     ItemWritten, FindDisc,
                       ProgramFolder, CopyPlanned, CopyEnded, nullptr,     nullptr};
  UpdateLists lists = Lists();
  bool ok = RunUpdateItems(&engine, game.c_str(), OwnPackage(), lists, false, hooks).end ==
            RunEnd::Completed;
  double end = Now();
  phases = {clock.planned - clock.start, clock.written - clock.planned, clock.copied - clock.written,
            end - clock.copied};
  if (!ok) RollbackUpdate(&engine);
  return ok;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Run(const char* packagePath, const char* folderPath, int rounds) {
  HANDLE file = CreateFileA(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD size = GetFileSize(file, nullptr);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const uint8_t* bytes = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  updaterState.packageBytes = bytes;
  updaterState.packageSize = size;
  updaterState.package = OpenPackage(bytes, size);
  if (!updaterState.package) return 1;
  updaterState.entries = updaterState.package->entries;
  // The digests a made updater carries, and the check it makes of them at
  // start-up, timed on the package as the runs below find it.
  uint32_t count = updaterState.package->header.entryCount;
  std::vector<uint8_t> digests(count * kSha256Size), buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < count; ++i)
    EntryDigest(updaterState.package, i, bytes, size, buffer.data(),
                *reinterpret_cast<uint8_t(*)[kSha256Size]>(&digests[i * kSha256Size]));
  PackageDigests record{size, count, Crc32(0, bytes, size), digests.data()};
  std::vector<double> checks;
  for (int i = 0; i < 5; ++i) {
    double start = Now();
    if (CheckWholePackage(bytes, size, record) != PackageWhole) return 1;
    checks.push_back(Now() - start);
  }
  std::printf("start-up check of the %u-byte package (CRC-32 and structure): median %.0f ms of 5\n",
              size, Median(checks));
  // A window for the progress bar and the message pump, as the wizard is.
  HWND dialog = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 300, 120,
                                nullptr, nullptr, nullptr, nullptr);
  std::string folder = folderPath, game = folder + "\\game", disc = folder + "\\disc";
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA(game.c_str(), nullptr);
  if (!MakeDisc(disc, MakeSyntheticEntry())) return 1;
  // Each round: the plain run, the journaled run, and the journaled run
  // checking every entry against its digest as a made updater does.
  std::vector<double> plain, journaled, checked, ratios;
  for (int round = 0; round < rounds; ++round) {
    double times[3] = {};
    // Rotate which goes first, so that none always meets a warmer cache.
    for (int k = 0; k < 3; ++k) {
      int kind = (round + k) % 3;
      updaterState.entryDigests = kind == 2 ? digests.data() : nullptr;
      Settle(game);
      if (!Prepare(game)) return 1;
      Settle(game);
      double start = Now();
      bool ok = kind ? JournaledRun(dialog, game, disc) : PlainRun(dialog, game, disc);
      double elapsed = Now() - start;
      if (!ok) {
        std::printf("the %s run failed\n", kind ? "journaled" : "plain");
        return 1;
      }
      times[kind] = elapsed;
    }
    plain.push_back(times[0]);
    journaled.push_back(times[1]);
    checked.push_back(times[2]);
    ratios.push_back(times[1] / times[0]);
    std::printf(
        "round %2d: plain %4.0f ms, journaled %4.0f ms (journal %3.0f, entries %3.0f, copy %3.0f, "
        "dropping originals %3.0f ms), ratio %.3f; with digests %4.0f ms\n",
        round + 1, times[0], times[1], phases.journal, phases.entries, phases.copy, phases.drop,
        ratios.back(), times[2]);
  }
  std::printf("medians: plain %.0f ms, journaled %.0f ms, ratio %.3f; median of the rounds' ratios %.3f\n",
              Median(plain), Median(journaled), Median(journaled) / Median(plain), Median(ratios));
  std::printf("journaled with every entry checked against its digest: median %.0f ms, %.3f of the journaled run\n",
              Median(checked), Median(checked) / Median(journaled));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "make") == 0) return Make(argv[2]);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "run") == 0)
    return Run(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 5);
  std::printf("usage: update_run_bench make PACKAGE | run PACKAGE FOLDER [ROUNDS]\n");
  return 2;
}

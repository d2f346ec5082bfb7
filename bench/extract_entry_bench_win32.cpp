// Time and memory of extracting one large compressed entry, as the update
// run does it: the package mapped in memory (as a resource is), the entry
// decoded whole into one block and written with one call.
//
//   extract_entry_bench make PACKAGE DECODED   deterministic data and its package
//   extract_entry_bench extract PACKAGE DEST   extract it, print time and memory
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "package/block.h"
#include "package/decompress.h"
#include "package/extract_entry.h"
#include "package/open_package.h"
#include "package/package_writer.h"

namespace {

constexpr size_t kEntrySize = 139309060;

// Words drawn by a fixed generator, with a run of noise now and then: text
// that a fast compressor brings to roughly half its size.
std::vector<uint8_t> MakeData() {
  static const char* words[] = {
      "map",   "sprite", "sound", "level", "wall",  "floor", "door",  "key",
      "enemy", "item",   "light", "sky",   "music", "flat",  "thing", "sector",
      "line",  "vertex", "node",  "seg",   "patch", "color", "ammo",  "armor"};
  std::vector<uint8_t> data;
  data.reserve(kEntrySize);
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  while (data.size() < kEntrySize) {
    uint32_t r = next();
    if ((r >> 24) < 40) {
      for (int i = 0; i < 8; ++i) data.push_back(static_cast<uint8_t>(next() >> 24));
    } else {
      const char* w = words[(r >> 8) % (sizeof words / sizeof *words)];
      data.insert(data.end(), w, w + std::strlen(w));
      data.push_back((r & 7) ? ' ' : '\n');
    }
  }
  data.resize(kEntrySize);
  return data;
}

bool WriteAll(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int Make(const char* packagePath, const char* decodedPath) {
  std::vector<uint8_t> data = MakeData();
  if (!WriteAll(decodedPath, data)) return 1;
  PackageOptions options;
  options.level = 1;
  std::vector<uint8_t> package;
  std::string error;
  DWORD start = GetTickCount();
  if (!BuildPackage({{"GAME.DAT", 0x01D0000000000000ull, data.data(), data.size()}}, options,
                    &package, &error)) {
    std::printf("build failed: %s\n", error.c_str());
    return 1;
  }
  std::printf("entry %zu bytes, package %zu bytes (%.1f%%), compressed in %lu ms\n",
              data.size(), package.size(), 100.0 * package.size() / data.size(),
              GetTickCount() - start);
  return WriteAll(packagePath, package) ? 0 : 1;
}

void PrintMemory(const char* when) {
  PROCESS_MEMORY_COUNTERS m{};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
  std::printf("%s: working set %lu KiB (peak %lu KiB), committed %lu KiB (peak %lu KiB)\n",
              when, static_cast<unsigned long>(m.WorkingSetSize / 1024),
              static_cast<unsigned long>(m.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(m.PagefileUsage / 1024),
              static_cast<unsigned long>(m.PeakPagefileUsage / 1024));
}

int Extract(const char* packagePath, const char* destination) {
  HANDLE file = CreateFileA(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD size = GetFileSize(file, nullptr);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const uint8_t* bytes =
      mapping ? static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))
              : nullptr;
  if (!bytes) return 1;
  updaterState.packageBytes = bytes;
  updaterState.packageSize = size;
  updaterState.package = OpenPackage(bytes, size);
  if (!updaterState.package) return 1;
  updaterState.entries = updaterState.package->entries;
  PrintMemory("before");

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = ExtractEntry("GAME.DAT", destination);
  QueryPerformanceCounter(&end);
  std::printf("ExtractEntry -> %d in %.0f ms\n", result,
              1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
  PrintMemory("after");

  // The two halves on their own: decoding into a block, and the write.
  const PackageEntry& entry = updaterState.entries[0];
  void* block = AllocBlock(entry.originalSize);
  QueryPerformanceCounter(&start);
  DecompressStream(static_cast<uint8_t*>(block), entry.originalSize, bytes + 16, entry.storedSize,
                   nullptr);
  QueryPerformanceCounter(&end);
  std::printf("  decode alone %.0f ms\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
  FileTime time{entry.fileTimeLow, entry.fileTimeHigh};
  QueryPerformanceCounter(&start);
  WriteFileWithTime(destination, block, entry.originalSize, &time);
  QueryPerformanceCounter(&end);
  std::printf("  write alone %.0f ms\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
  FreeBlock(block);

  FreeBlock(updaterState.package);
  UnmapViewOfFile(bytes);
  CloseHandle(mapping);
  CloseHandle(file);
  return result ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return Extract(argv[2], argv[3]);
  std::printf("usage: extract_entry_bench make PACKAGE DECODED | extract PACKAGE DEST\n");
  return 2;
}

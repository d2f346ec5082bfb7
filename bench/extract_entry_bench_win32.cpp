// Time and memory of extracting one large compressed entry, as the update
// run does it: the package mapped in memory (as a resource is), the entry
// decoded piece by piece through one fixed buffer into a temporary beside
// the destination. For a same-run comparison, `whole` does what extraction
// did before: decode the entry whole into one block and write it with one
// call.
//
//   extract_entry_bench make PACKAGE DECODED   deterministic data and its package
//   extract_entry_bench extract PACKAGE DEST   ExtractEntry, then the decoding alone
//   extract_entry_bench whole PACKAGE DEST     one block and one write
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "bench/synthetic_entry.h"
#include "package/block.h"
#include "package/decompress.h"
#include "package/entry_data.h"
#include "package/extract_entry.h"
#include "package/open_package.h"
#include "package/package_writer.h"

namespace {

bool WriteAll(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int Make(const char* packagePath, const char* decodedPath) {
  std::vector<uint8_t> data = MakeSyntheticEntry();
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

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// The package mapped as a resource is, opened into updaterState.
struct MappedPackage {
  HANDLE file = INVALID_HANDLE_VALUE, mapping = nullptr;
  const uint8_t* bytes = nullptr;
  ~MappedPackage() {
    FreeBlock(updaterState.package);
    if (bytes) UnmapViewOfFile(bytes);
    if (mapping) CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

bool MapPackage(const char* packagePath, MappedPackage* p) {
  p->file = CreateFileA(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr);
  if (p->file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(p->file, nullptr);
  p->mapping = CreateFileMappingA(p->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!p->mapping) return false;
  p->bytes = static_cast<const uint8_t*>(MapViewOfFile(p->mapping, FILE_MAP_READ, 0, 0, 0));
  if (!p->bytes) return false;
  updaterState.packageBytes = p->bytes;
  updaterState.packageSize = size;
  updaterState.package = OpenPackage(p->bytes, size);
  if (!updaterState.package) return false;
  updaterState.entries = updaterState.package->entries;
  return true;
}

int Extract(const char* packagePath, const char* destination) {
  MappedPackage mapped;
  if (!MapPackage(packagePath, &mapped)) return 1;
  PrintMemory("before");
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  int result = ExtractEntry("GAME.DAT", destination);
  QueryPerformanceCounter(&end);
  std::printf("ExtractEntry -> %d in %.0f ms\n", result, Milliseconds(start, end));
  PrintMemory("after");

  // The decoding alone, through the same fixed buffer, nothing written.
  std::vector<uint8_t> buffer(kEntryBufferSize);
  EntryReader reader;
  QueryPerformanceCounter(&start);
  EntryDataResult checked = CheckEntryData(updaterState.package, 0, updaterState.packageBytes,
                                           updaterState.packageSize, buffer.data(), &reader);
  QueryPerformanceCounter(&end);
  std::printf("  decode alone %.0f ms (%s)\n", Milliseconds(start, end),
              checked == EntryDataOk ? "ok" : "failed");
  return result ? 0 : 1;
}

int Whole(const char* packagePath, const char* destination) {
  MappedPackage mapped;
  if (!MapPackage(packagePath, &mapped)) return 1;
  const PackageEntry& entry = updaterState.entries[0];
  LARGE_INTEGER start, middle, end;
  QueryPerformanceCounter(&start);
  void* block = AllocBlock(entry.originalSize);
  if (!block) return 1;
  DecodeCounts counts{};
  DecodeResult decoded = DecompressStream(static_cast<uint8_t*>(block), entry.originalSize,
                                          mapped.bytes + 16, entry.storedSize, &counts);
  QueryPerformanceCounter(&middle);
  FileTime time{entry.fileTimeLow, entry.fileTimeHigh};
  int result = decoded == DecodeOk && counts.written == entry.originalSize &&
               WriteFileWithTime(destination, block, entry.originalSize, &time);
  QueryPerformanceCounter(&end);
  FreeBlock(block);
  std::printf("whole block -> %d in %.0f ms (decode %.0f ms, write %.0f ms)\n", result,
              Milliseconds(start, end), Milliseconds(start, middle), Milliseconds(middle, end));
  PrintMemory("after");
  return result ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return Extract(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "whole") == 0) return Whole(argv[2], argv[3]);
  std::printf("usage: extract_entry_bench make PACKAGE DECODED | extract PACKAGE DEST"
              " | whole PACKAGE DEST\n");
  return 2;
}

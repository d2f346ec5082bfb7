#include "tests/support/extraction_fakes_win32.h"

#include <windows.h>

#include "base/system.h"
#include "package/block.h"
#include "package/extraction_system.h"

ExtractionFakes extractionFakes;

void ResetExtractionFakes() { extractionFakes = ExtractionFakes{}; }

void FakeAvailableSpace(uint64_t available) {
  extractionFakes.useFixedAvailable = true;
  extractionFakes.fixedAvailable = available;
}

void FailBothFreeSpaceQueries() {
  extractionFakes.freeSpaceExFails = true;
  extractionFakes.freeSpaceFails = true;
}

int ExtractionFreeSpaceEx(const char* root, uint64_t* available, uint64_t* total,
                          uint64_t* free) {
  ++extractionFakes.freeSpaceQueries;
  extractionFakes.lastRoot = root;
  if (extractionFakes.freeSpaceExFails) return 0;
  if (extractionFakes.useFixedAvailable) {
    *available = *total = *free = extractionFakes.fixedAvailable;
    return 1;
  }
  ULARGE_INTEGER a{}, t{}, f{};
  if (!GetDiskFreeSpaceExA(root, &a, &t, &f)) return 0;
  *available = a.QuadPart, *total = t.QuadPart, *free = f.QuadPart;
  return 1;
}

int ExtractionFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                        uint32_t* freeClusters, uint32_t* totalClusters) {
  DWORD sectors, bytes, freeCount, totalCount;
  if (extractionFakes.freeSpaceFails ||
      !SysGetDiskFreeSpace(root, &sectors, &bytes, &freeCount, &totalCount))
    return 0;
  *sectorsPerCluster = sectors, *bytesPerSector = bytes;
  *freeClusters = freeCount, *totalClusters = totalCount;
  return 1;
}

void* ExtractionAllocate(uint32_t size) {
  return extractionFakes.allocationFails ? nullptr : AllocBlock(size);
}

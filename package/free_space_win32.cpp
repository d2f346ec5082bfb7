#include "base/file_system.h"
#include "package/extract_entry.h"
#include "package/extraction_system.h"

int QueryFreeSpace(const char* root, uint64_t* available, uint64_t* total, uint64_t* free) {
  // Figures go to the outputs only on success.
  uint64_t a = 0, t = 0, f = 0;
  int result = ExtractionFreeSpaceEx(root, &a, &t, &f);
  if (!result) {
    uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (ExtractionFreeSpace(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                            &totalClusters)) {
      uint32_t bytesPerCluster = sectorsPerCluster * bytesPerSector;
      a = uint64_t{bytesPerCluster} * freeClusters;
      t = uint64_t{bytesPerCluster} * totalClusters;
      f = a;
      result = 1;
    }
  }
  if (result) {
    *available = a;
    *total = t;
    if (free) *free = f;
  }
  return result;
}

bool FsFreeSpace(const char* root, uint64_t* available) {
  uint64_t total = 0;
  return QueryFreeSpace(root, available, &total, nullptr) != 0;
}

#include "package/extraction_system.h"

#include <windows.h>

#include "base/system.h"
#include "package/block.h"

namespace {

// Looked up on first use, as the first release of Windows 95 lacks it, and
// kept once found. Written without a lock: the updater has one thread.
SysFreeSpaceExFunction freeSpaceEx = nullptr;

}  // namespace

int ExtractionFreeSpaceEx(const char* root, uint64_t* available, uint64_t* total,
                          uint64_t* free) {
  HMODULE kernel = nullptr;
  if (!freeSpaceEx) {
    kernel = SysLoadLibrary("kernel32.dll");
    if (kernel) {
      FARPROC proc = GetProcAddress(kernel, "GetDiskFreeSpaceExW");
      freeSpaceEx = reinterpret_cast<SysFreeSpaceExFunction>(reinterpret_cast<void*>(proc));
    }
  }
  ULARGE_INTEGER a{}, t{}, f{};
  const int result = freeSpaceEx && SysCallFreeSpaceEx(freeSpaceEx, root, &a, &t, &f) ? 1 : 0;
  if (result) {
    *available = a.QuadPart;
    *total = t.QuadPart;
    *free = f.QuadPart;
  }
  if (kernel) FreeLibrary(kernel);
  return result;
}

int ExtractionFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                        uint32_t* freeClusters, uint32_t* totalClusters) {
  DWORD sectors = 0, bytes = 0, freeCount = 0, totalCount = 0;
  if (!SysGetDiskFreeSpace(root, &sectors, &bytes, &freeCount, &totalCount)) return 0;
  *sectorsPerCluster = sectors;
  *bytesPerSector = bytes;
  *freeClusters = freeCount;
  *totalClusters = totalCount;
  return 1;
}

void* ExtractionAllocate(uint32_t size) { return AllocBlock(size); }

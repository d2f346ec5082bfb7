#include <windows.h>

#include "base/system.h"
#include "package/extract_entry.h"

namespace {

// Looked up on first use and kept once found. Written without a lock: the
// updater has one thread.
SysFreeSpaceExFunction freeSpaceEx = nullptr;

int CallFreeSpaceEx(const char* root, uint64_t* available, uint64_t* total, uint64_t* free) {
  if (extractionCalls.diskFreeSpaceEx)
    return extractionCalls.diskFreeSpaceEx(root, available, total, free);
  if (!freeSpaceEx) return 0;
  ULARGE_INTEGER a{}, t{}, f{};
  if (!SysCallFreeSpaceEx(freeSpaceEx, root, &a, &t, &f)) return 0;
  *available = a.QuadPart;
  *total = t.QuadPart;
  *free = f.QuadPart;
  return 1;
}

}  // namespace

int QueryFreeSpace(const char* root, uint64_t* available, uint64_t* total, uint64_t* free) {
  HMODULE kernel = nullptr;
  if (!freeSpaceEx) {
    kernel = SysLoadLibrary("kernel32.dll");
    if (kernel) {
      FARPROC proc = GetProcAddress(kernel, "GetDiskFreeSpaceExW");
      freeSpaceEx = reinterpret_cast<SysFreeSpaceExFunction>(reinterpret_cast<void*>(proc));
    }
  }

  // Figures go to the outputs only on success.
  uint64_t a = 0, t = 0, f = 0;
  int result = CallFreeSpaceEx(root, &a, &t, &f);
  if (!result) {
    uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (extractionCalls.diskFreeSpace(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
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

  if (kernel) FreeLibrary(kernel);
  return result;
}

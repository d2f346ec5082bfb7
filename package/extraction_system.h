// The system calls behind the extraction's failures that no real condition
// produces in a test: failing free-space queries, figures
// of any size, a working buffer that cannot be had whatever the address
// space. package/extraction_system_win32.cpp makes the real calls; the tests
// that need those failures link tests/support/extraction_fakes_win32.cpp in
// its place, so the program pays nothing for them.
#pragma once

#include <cstdint>

// GetDiskFreeSpaceExW where the system has it (looked up in kernel32).
// Nonzero on success, when all three figures are set.
int ExtractionFreeSpaceEx(const char* root, uint64_t* available, uint64_t* total,
                          uint64_t* free);

// GetDiskFreeSpaceW. Nonzero on success, when all four figures are set.
int ExtractionFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                        uint32_t* freeClusters, uint32_t* totalClusters);

// The working buffer a compressed entry is decoded through (AllocBlock; freed
// with FreeBlock). None on failure.
void* ExtractionAllocate(uint32_t size);

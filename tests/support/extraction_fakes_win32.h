// Stand-ins for the calls of package/extraction_system.h, linked in their
// place into the tests that list this file (tests/CMakeLists.txt). Unless
// told otherwise they make the real system calls; ResetExtractionFakes()
// returns to that.
#pragma once

#include <cstdint>
#include <string>

struct ExtractionFakes {
  // GetDiskFreeSpaceExA: fails, or gives fixedAvailable as every figure.
  bool freeSpaceExFails = false;
  bool useFixedAvailable = false;
  uint64_t fixedAvailable = 0;
  // GetDiskFreeSpaceA fails.
  bool freeSpaceFails = false;
  // The working buffer cannot be had.
  bool allocationFails = false;
  // What the free-space queries were asked: how many times, and the last root.
  int freeSpaceQueries = 0;
  std::string lastRoot;
};
extern ExtractionFakes extractionFakes;

void ResetExtractionFakes();

// The Ex query answers with available (as all three figures).
void FakeAvailableSpace(uint64_t available);
// Both free-space queries fail: no figure can be had.
void FailBothFreeSpaceQueries();

// Writing one entry of the opened update package to a file, and the
// free-space query that the extraction and the update run use.
#pragma once

#include <cstdint>

#include "base/bounded_text.h"

// A FILETIME as two 32-bit halves, low half first (the same layout).
struct FileTime {
  uint32_t low;
  uint32_t high;
};

// Writes the entry called `name` (letter case ignored, first match in
// directory order) of updaterState's package to destinationPath.
// Returns 1 on success, 0 on failure. A missing entry, a lack of space,
// corrupt entry data and a failed allocation are reported in a box; a folder
// at the destination and a failed write are silent. The entry goes piece by
// piece (a compressed one through one working buffer of fixed size) into a
// temporary beside the destination, which replaces it only once the whole
// entry has decoded to exactly its recorded size: on any failure an existing
// destination file keeps its contents and attributes. (Unless the update run
// asks for the destination itself: see ExtractionObserver.)
int ExtractEntry(const char* name, const char* destinationPath);

// Creates or replaces the file at path with length bytes from data, giving it
// *fileTime (when given) as creation, last-access and last-write time. The
// bytes and times go to a temporary file in the same folder first (its name
// fits wherever path does), which then replaces the destination: a failure
// leaves an existing file as it was and no temporary behind, and once the
// destination has been replaced the call has succeeded. Returns 1 or 0.
int WriteFileWithTime(const char* path, const void* data, uint32_t length,
                      const FileTime* fileTime);

// The same write in steps, for data that comes piece by piece: Begin creates
// the temporary beside destination, Write appends to it, Finish gives it the
// time, closes it and lets it replace the destination, and Abandon closes and
// deletes it. Each returns 1 or 0; after Begin succeeded, exactly one of
// Finish and Abandon must follow, and a Finish that fails has removed the
// temporary itself.
struct TemporaryFile {
  void* handle;
  char path[kPathCapacity];
  char destination[kPathCapacity];
};
int BeginTemporaryFile(const char* destination, TemporaryFile* file);
int WriteTemporaryFile(TemporaryFile* file, const void* data, uint32_t length);
int FinishTemporaryFile(TemporaryFile* file, const FileTime* fileTime);
void AbandonTemporaryFile(TemporaryFile* file);

// Free-space figures of the drive named by root (for example "C:"): bytes
// available to the caller, the drive's total size and, when free is given,
// all free bytes. Nonzero on success; on failure the outputs are untouched.
int QueryFreeSpace(const char* root, uint64_t* available, uint64_t* total, uint64_t* free);

// What the update run asks of the extractions it starts: whether the entry
// is written straight to its destination (the run has moved any original
// aside and recorded the name in its journal, which undoes a failed write),
// with no temporary to rename; and a call after every piece written, for
// the run's progress and its window. Neither by default.
struct ExtractionObserver {
  bool inPlace;
  void (*pieceWritten)(uint32_t bytes);
};
extern ExtractionObserver extractionObserver;


// Writing one entry of the opened update package to a file, with the boxes
// that tell the player why it failed, and the free-space query that the
// extraction and the update run use. The writing itself is the update
// engine's (engine/entry_writer.h).
#pragma once

#include <cstdint>

#include "engine/entry_writer.h"

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
// destination file keeps its contents and attributes.
int ExtractEntry(const char* name, const char* destinationPath);

// The boxes of a write that failed, as ExtractEntry shows them (none for a
// silent failure). The update run shows them for its own writes too.
void ShowEntryWriteBoxes(const EntryWriteReport& report);

// updaterState's package, as the engine reads it.
PackageView OwnPackage();

// Creates or replaces the file at path with length bytes from data, giving it
// *fileTime (when given) as creation, last-access and last-write time. The
// bytes and times go to a temporary file in the same folder first (its name
// fits wherever path does), which then replaces the destination: a failure
// leaves an existing file as it was and no temporary behind, and once the
// destination has been replaced the call has succeeded. Returns 1 or 0.
int WriteFileWithTime(const char* path, const void* data, uint32_t length,
                      const FileTime* fileTime);

// Free-space figures of the drive named by root (for example "C:"): bytes
// available to the caller, the drive's total size and, when free is given,
// all free bytes. Nonzero on success; on failure the outputs are untouched.
int QueryFreeSpace(const char* root, uint64_t* available, uint64_t* total, uint64_t* free);

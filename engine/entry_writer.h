// Writing one entry of the update package to a file: found by its name,
// checked against the drive's free space, taken piece by piece (a compressed
// entry through one working buffer of fixed size) and written either in
// place, for the journaled update run, or through a temporary that replaces
// the destination once the whole entry has decoded. The result is a code;
// the caller chooses what the player sees (ExtractEntry's boxes). Portable,
// over base/file_system.h.
#pragma once

#include <cstdint>

#include "base/file_system.h"
#include "engine/places.h"
#include "package/fa2_format.h"

// The package as the updater holds it: its opened directory, its bytes,
// from which entry data is read, and, for a made updater, the SHA-256 of
// every entry's decoded bytes in directory order (none: entries are checked
// only against their sizes).
struct PackageView {
  const UpdatePackage* package;
  const uint8_t* bytes;
  uint32_t size;
  const uint8_t* entryDigests = nullptr;
};

enum class EntryWrite {
  Written,
  Missing,   // no entry of that name
  NoSpace,   // the drive lacks shortfall bytes for the entry
  Corrupt,   // the entry's data does not lie in the package, does not decode to its size
             // or is not the bytes its digest names
  NoMemory,  // no working buffer for a compressed entry
  Failed,    // a folder at the destination, or the file could not be written
};

struct EntryWriteReport {
  EntryWrite result;
  uint32_t shortfall;  // NoSpace
  char drive[3];       // NoSpace: the destination's first two bytes, whatever they are
};

// Called after every piece written, with its size: the run's progress and
// its window.
struct Progress {
  void (*pieceWritten)(void* context, uint32_t bytes);
  void* context;
};

// Writes the entry called name (letter case ignored, the first in directory
// order) at destination, a file the update run has journaled as new (any
// original is moved aside): created only while its folder lies at place, its
// times the entry's, and its data on the disk before it is closed, so that a
// completed run holds it whatever happens to the machine. A failure half-way
// leaves what was written to the journal to undo. place none: the entry is
// only looked up and checked, and the write fails after that (a destination
// that cannot be written, reported as the write would be).
EntryWriteReport WriteEntryInPlace(const PackageView& package, const char* name,
                                   const char* destination, const PlaceCheck& check,
                                   const char* place, const Progress* progress);

// Writes the entry called name to destination through a temporary beside it
// (the same folder, a name that fits wherever destination's does), which
// replaces destination only once the entry has decoded whole to its size: on
// any failure destination keeps its contents and attributes and no
// temporary stays. A read-only destination is replaced; the new file is not
// read-only.
EntryWriteReport WriteEntryReplacing(const PackageView& package, const char* name,
                                     const char* destination);

// The same replacing write for length bytes at data, with times (none: the
// system's own) as the file's creation, last-access and last-write times.
bool WriteFileReplacing(const char* destination, const void* data, uint32_t length,
                        const FsTimes* times);

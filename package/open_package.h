// Opening an FA2 package: header and directory only, never the entry data.
#pragma once

#include <cstdint>

#include "package/fa2_format.h"

// size != 0: source is the whole package in memory, size bytes long.
// size == 0: source is the NUL-terminated path of a package file.
// Returns one block (header copy, then the decoded directory) that the caller
// frees with FreeBlock, or nullptr when the package cannot be opened or does
// not hold together (wrong magic, directory outside the package, a compressed
// directory that does not decode to exactly entryCount * 32 bytes).
UpdatePackage* OpenPackage(const void* source, uint32_t size);

// Where the data of entry `index` starts: 16 plus the padded stored sizes of
// the entries before it. False when the offset passes 32 bits.
bool EntryDataOffset(const UpdatePackage* package, uint32_t index, uint32_t* offset);

// True when entry `index`'s data (offset + storedSize) lies inside a package
// of packageSize bytes; offset receives where it starts.
bool EntryDataInside(const UpdatePackage* package, uint32_t index, uint32_t packageSize,
                     uint32_t* offset);

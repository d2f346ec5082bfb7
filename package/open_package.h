// Opening an FA2 package: header and directory only, never the entry data.
#pragma once

#include <cstdint>

#include "package/decompress.h"
#include "package/fa2_format.h"

// size != 0: source is the whole package in memory, size bytes long.
// size == 0: source is the NUL-terminated path of a package file.
// Returns one block (header copy, then the decoded directory) that the caller
// frees with FreeBlock, or nullptr when the package cannot be opened or does
// not hold together (wrong magic, directory outside the package, a compressed
// directory that does not decode to exactly entryCount * 32 bytes, an entry
// whose data does not lie inside the package). Both forms
// check the header's figures against the package's size before they take a
// block for the directory.
UpdatePackage* OpenPackage(const void* source, uint32_t size);

// Why an in-memory package could not be opened.
enum OpenProblem {
  OpenOk = 0,
  OpenNotPackage,          // wrong magic
  OpenShortHeader,         // begins like a package, shorter than its header
  OpenDirectoryOutside,    // directoryOffset before the data area or past the end
  OpenTooManyEntries,      // entryCount * 32 + 16 passes 32 bits
  OpenDirectoryTruncated,  // the rest of the package cannot hold the directory: a plain
                           // one passes the end, a compressed one cannot decode to it
  OpenDirectoryCorrupt,    // compressed directory does not decode (see decode)
  OpenDirectoryWrongSize,  // it decodes, to decodedBytes instead of entryCount * 32
  OpenEntryOutside,        // the data of entry `entry` does not lie inside the package
  OpenNoMemory,
};
struct PackageProblem {
  OpenProblem what = OpenOk;
  DecodeResult decode = DecodeOk;
  size_t decodedBytes = 0;
  uint32_t entry = 0;
};
const char* OpenProblemText(OpenProblem problem);

// The in-memory form of OpenPackage (size must not be 0 for a real package),
// which also says why it failed when problem is given.
UpdatePackage* OpenPackageBytes(const uint8_t* bytes, uint32_t size, PackageProblem* problem);

// Where the data of entry `index` starts: 16 plus the padded stored sizes of
// the entries before it. False when the offset passes 32 bits.
bool EntryDataOffset(const UpdatePackage* package, uint32_t index, uint32_t* offset);

// True when entry `index`'s data (offset + storedSize) lies inside a package
// of packageSize bytes; offset receives where it starts.
bool EntryDataInside(const UpdatePackage* package, uint32_t index, uint32_t packageSize,
                     uint32_t* offset);

// An entry's name as text: its name field up to the first NUL, or all of its
// 15 bytes when the field holds none.
void EntryNameText(const PackageEntry& entry, char (&name)[kEntryNameField + 1]);

// The first entry, in directory order, whose name is name without regard to
// letter case (SameEntryName, the rule of the updater and the tool alike);
// index receives it. False when there is none (or no package).
bool FindEntry(const UpdatePackage* package, const char* name, uint32_t* index);

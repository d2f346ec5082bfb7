// One entry's data, taken from the package bytes: where it lies, whether it
// agrees with the entry's sizes, and its decoded bytes. Portable: the
// updater's extraction and the fa2 tool both take entries through here and
// word the result each in their own way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/block.h"
#include "package/decompress.h"
#include "package/fa2_format.h"

enum EntryDataResult {
  EntryDataOk = 0,
  EntryDataOutside,      // the stored bytes do not lie inside the package
  EntryDataSizesDiffer,  // an entry stored as it is, whose two sizes differ
  EntryDataCorrupt,      // the compressed stream does not decode (see decode)
  EntryDataWrongSize,    // it decodes, to decodedBytes instead of originalSize
  EntryDataNoMemory,     // no block for the decoded bytes
};

struct EntryData {
  const uint8_t* bytes = nullptr;  // originalSize bytes: in the package, or the block
  void* block = nullptr;           // the decoded bytes, for FreeBlock; none when stored
  DecodeResult decode = DecodeOk;
  size_t decodedBytes = 0;
};

// Finds the data of entry `index` in the package (packageSize bytes at
// packageBytes), checks it against the entry's sizes and decodes a
// compressed entry into a block of originalSize bytes, which its stream must
// fill exactly within its own storedSize bytes. On success data->bytes holds
// the entry's originalSize bytes and the caller frees data->block; on
// failure nothing is left to free. allocate takes the block (AllocBlock
// unless a test needs an allocation that fails).
EntryDataResult DecodeEntryData(const UpdatePackage* package, uint32_t index,
                                const uint8_t* packageBytes, uint32_t packageSize,
                                EntryData* data, void* (*allocate)(uint32_t size) = AllocBlock);

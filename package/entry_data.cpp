#include "package/entry_data.h"

#include "package/block.h"
#include "package/open_package.h"

EntryDataResult DecodeEntryData(const UpdatePackage* package, uint32_t index,
                                const uint8_t* packageBytes, uint32_t packageSize,
                                EntryData* data, void* (*allocate)(uint32_t size)) {
  *data = EntryData{};
  uint32_t offset = 0;
  if (!EntryDataInside(package, index, packageSize, &offset)) return EntryDataOutside;
  const PackageEntry& entry = package->entries[index];
  const uint8_t* stored = packageBytes + offset;
  if (!(entry.flags & kEntryFlagCompressed)) {
    if (entry.storedSize != entry.originalSize) return EntryDataSizesDiffer;
    data->bytes = stored;
    return EntryDataOk;
  }

  auto* block = static_cast<uint8_t*>(allocate(entry.originalSize));
  if (!block) return EntryDataNoMemory;
  DecodeCounts counts{};
  data->decode = DecompressStream(block, entry.originalSize, stored, entry.storedSize, &counts);
  data->decodedBytes = counts.written;
  EntryDataResult result = data->decode != DecodeOk                 ? EntryDataCorrupt
                           : counts.written != entry.originalSize ? EntryDataWrongSize
                                                                  : EntryDataOk;
  if (result != EntryDataOk) {
    FreeBlock(block);
    return result;
  }
  data->bytes = block;
  data->block = block;
  return EntryDataOk;
}

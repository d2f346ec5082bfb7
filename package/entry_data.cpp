#include "package/entry_data.h"

#include "package/open_package.h"

EntryDataResult OpenEntryData(const UpdatePackage* package, uint32_t index,
                              const uint8_t* packageBytes, uint32_t packageSize,
                              EntryReader* reader) {
  *reader = EntryReader{};
  uint32_t offset = 0;
  if (!EntryDataInside(package, index, packageSize, &offset)) return EntryDataOutside;
  const PackageEntry& entry = package->entries[index];
  reader->stored = packageBytes + offset;
  reader->originalSize = entry.originalSize;
  reader->compressed = (entry.flags & kEntryFlagCompressed) != 0;
  if (!reader->compressed) {
    if (entry.storedSize != entry.originalSize) return EntryDataSizesDiffer;
    return EntryDataOk;
  }
  // More than originalSize bytes is a failure of the decoder itself.
  BeginChunkedDecode(&reader->decode, reader->stored, entry.storedSize, entry.originalSize);
  return EntryDataOk;
}

EntryDataResult ReadEntryPiece(EntryReader* reader, uint8_t* buffer, const uint8_t** piece,
                               size_t* length) {
  *piece = nullptr;
  *length = 0;
  if (reader->finished) return EntryDataOk;
  if (!reader->compressed) {
    uint32_t left = reader->originalSize - reader->delivered;
    *piece = reader->stored + reader->delivered;
    *length = left < kEntryPieceSize ? left : kEntryPieceSize;
    reader->delivered += static_cast<uint32_t>(*length);
    reader->finished = reader->delivered == reader->originalSize;
    return EntryDataOk;
  }
  if (DecodeChunk(&reader->decode, buffer, kEntryPieceSize, piece, length) != DecodeOk)
    return EntryDataCorrupt;
  if (reader->decode.finished) {
    if (reader->decode.written != reader->originalSize) return EntryDataWrongSize;
    reader->finished = true;
  }
  return EntryDataOk;
}

EntryDataResult CheckEntryData(const UpdatePackage* package, uint32_t index,
                               const uint8_t* packageBytes, uint32_t packageSize,
                               uint8_t* buffer, EntryReader* reader) {
  EntryDataResult result = OpenEntryData(package, index, packageBytes, packageSize, reader);
  while (result == EntryDataOk && !reader->finished) {
    const uint8_t* piece;
    size_t length;
    result = ReadEntryPiece(reader, buffer, &piece, &length);
  }
  return result;
}

// One entry's data, taken from the package bytes: where it lies, whether it
// agrees with the entry's sizes, and its decoded bytes, piece by piece
// through one fixed buffer so that memory does not grow with the entry.
// Portable: the updater's extraction and the fa2 tool both take entries
// through here and word the result each in their own way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/decompress.h"
#include "package/fa2_format.h"

enum EntryDataResult {
  EntryDataOk = 0,
  EntryDataOutside,      // the stored bytes do not lie inside the package
  EntryDataSizesDiffer,  // an entry stored as it is, whose two sizes differ
  EntryDataCorrupt,      // the compressed stream does not decode (see decode.result)
  EntryDataWrongSize,    // it decodes, to decode.written bytes instead of originalSize
};

// The most bytes one piece holds, and the caller's working buffer for the
// pieces of a compressed entry (a stored one needs none): 1 MiB of piece
// plus the decoder's history and slack.
constexpr size_t kEntryPieceSize = size_t{1} << 20;
constexpr size_t kEntryBufferSize = ChunkedDecodeBufferSize(kEntryPieceSize);

// Where a read of one entry stands. Read finished and decode; the rest
// belongs to ReadEntryPiece.
struct EntryReader {
  bool finished = false;  // the entry ended, whole and of its recorded size
  bool compressed = false;
  const uint8_t* stored = nullptr;  // the entry's storedSize bytes in the package
  uint32_t originalSize = 0;
  uint32_t delivered = 0;  // bytes of a stored entry handed out so far
  ChunkedDecode decode;    // a compressed entry's decoder: result, written, consumed
};

// Starts reading entry `index` of the package (packageSize bytes at
// packageBytes): its data must lie inside the package, and a stored entry's
// two sizes must agree. The package bytes must stay in place while the entry
// is read.
EntryDataResult OpenEntryData(const UpdatePackage* package, uint32_t index,
                              const uint8_t* packageBytes, uint32_t packageSize,
                              EntryReader* reader);

// The next piece of the entry: *piece and *length receive where its bytes are
// (in the package for a stored entry, else inside buffer) and how many, at
// most kEntryPieceSize + kDecodeChunkSlack; they stay valid until the next
// call. buffer is kEntryBufferSize bytes, the same on every call (none for a
// stored entry). Sets reader->finished with the last piece, once the stream
// has ended at exactly originalSize bytes within storedSize. A stream that
// does not decode gives EntryDataCorrupt, one that ends at another size
// EntryDataWrongSize; the bytes handed out before are then not the entry's.
EntryDataResult ReadEntryPiece(EntryReader* reader, uint8_t* buffer, const uint8_t** piece,
                               size_t* length);

// Reads the whole entry through buffer without keeping it: the checks of
// OpenEntryData and ReadEntryPiece, and reader tells how it ended.
EntryDataResult CheckEntryData(const UpdatePackage* package, uint32_t index,
                               const uint8_t* packageBytes, uint32_t packageSize,
                               uint8_t* buffer, EntryReader* reader);

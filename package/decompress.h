// Decoder of the FA2 compressed stream (its codes and limits in
// package/fa2_format.h).
//
// Two forms share one decoding loop: DecompressStream decodes a whole stream
// into one block; the chunked form (BeginChunkedDecode, DecodeChunk) decodes
// it piece by piece through a small buffer, for extraction in bounded memory.
// Both give the same bytes, the same result and the same counts for any
// input, valid or not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/fa2_format.h"

enum DecodeResult {
  DecodeOk = 0,
  DecodeTruncated,     // the source ended before the end code
  DecodeBadDistance,   // a match reaches before the start of the output
  DecodeOutputFull,    // the stream produces more than the destination holds
};

struct DecodeCounts {
  size_t written;   // bytes written to the destination
  size_t consumed;  // source bytes read, up to and including the end code
};

// Decodes the stream at source (at most sourceLength bytes) into destination
// (at most capacity bytes). Never reads or writes outside the two ranges.
// counts, when given, is filled on every outcome. On a failure the bytes of
// the destination past counts.written are unspecified (wide copies may have
// written there); the first counts.written bytes are what a byte-by-byte
// decoder would have written.
DecodeResult DecompressStream(uint8_t* destination, size_t capacity,
                              const uint8_t* source, size_t sourceLength,
                              DecodeCounts* counts);

const char* DecodeResultText(DecodeResult result);

// ---- Chunked decoding ----
//
// A match copies from at most kDecodeHistory bytes back, so the last
// kDecodeHistory bytes of output plus room for the next piece are all the
// memory a decode needs, whatever the stream's size. The caller owns one
// buffer of ChunkedDecodeBufferSize(chunkSize) bytes and passes the same
// buffer to every call:
//
//   [ history: kDecodeHistory | piece: chunkSize | slack: kDecodeChunkSlack ]
//
// Each DecodeChunk call first moves the last kDecodeHistory bytes decoded so
// far to the history area, then decodes whole codes into the piece area
// until at least chunkSize bytes are there (the last code may run into the
// slack), the end code is read, or the stream fails. The piece is valid until
// the next call. Typical use, writing an entry of originalSize bytes:
//
//   ChunkedDecode state;
//   BeginChunkedDecode(&state, stream, storedSize, originalSize);
//   std::vector<uint8_t> buffer(ChunkedDecodeBufferSize(kChunk));
//   do {
//     const uint8_t* piece;
//     size_t length;
//     if (DecodeChunk(&state, buffer.data(), kChunk, &piece, &length) != DecodeOk)
//       fail;                                  // state.result says why
//     write(piece, length);
//   } while (!state.finished);
//   // state.written == originalSize is not checked by the decoder: a stream
//   // that ends early gives DecodeOk with fewer bytes, as DecompressStream.
//
// After the last call, state.result, state.written and state.consumed equal
// what DecompressStream returns and counts for the same stream with
// capacity = the capacity given to BeginChunkedDecode.

constexpr size_t kDecodeHistory = kFarthestMatchDistance;
constexpr size_t kDecodeChunkSlack = 352;  // how far the last code may pass chunkSize

constexpr size_t ChunkedDecodeBufferSize(size_t chunkSize) {
  return kDecodeHistory + chunkSize + kDecodeChunkSlack;
}

// The decoder's position between calls. Read finished, result, written and
// consumed; the rest belongs to the decoder.
struct ChunkedDecode {
  bool finished = false;        // the end code was read, or the stream failed
  DecodeResult result = DecodeOk;
  uint64_t written = 0;         // bytes decoded so far, over all pieces
  size_t consumed = 0;          // source bytes read so far
  const uint8_t* source = nullptr;
  size_t sourceLength = 0;
  uint64_t capacity = 0;        // the most bytes the stream may decode to
  uint32_t word = 0;            // unused bits of the control word, at the top
  int bitsLeft = 0;
  size_t lastPiece = 0;         // bytes of the previous piece, still in the buffer
};

// Starts decoding the stream at source (sourceLength bytes), which may decode
// to at most capacity bytes (more is DecodeOutputFull, as for
// DecompressStream's capacity). The source must stay in place until the last
// DecodeChunk call.
void BeginChunkedDecode(ChunkedDecode* state, const uint8_t* source, size_t sourceLength,
                        uint64_t capacity);

// Decodes the next piece into buffer (ChunkedDecodeBufferSize(chunkSize)
// bytes, the same buffer on every call; chunkSize at least 1, and it may
// change from call to call while the buffer is large enough for it). *piece and
// *pieceLength receive where the new bytes are (inside buffer) and how many:
// at least chunkSize unless the stream ended or failed, less than chunkSize +
// kDecodeChunkSlack. Returns DecodeOk while the stream is sound (with
// state->finished set once the end code was read), otherwise the failure,
// after which *pieceLength holds the bytes decoded before it (as counted in
// DecompressStream's written). A call after the finish returns state->result
// and no bytes.
DecodeResult DecodeChunk(ChunkedDecode* state, uint8_t* buffer, size_t chunkSize,
                         const uint8_t** piece, size_t* pieceLength);

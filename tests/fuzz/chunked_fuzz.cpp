// libFuzzer target: decoding in chunks gives what the whole-buffer decoder
// gives (same result, bytes and counts) at random chunk sizes, with the
// history kept in an exact-size buffer.
//
// Input: two bytes choosing the total capacity (0 to 65535), three bytes
// choosing the chunk sizes used in turn, then the stream.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "package/decompress.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Small sizes one by one (1 to 200, around the longest match), then larger
// ones up to about 16 KiB.
size_t ChunkSize(uint8_t b) {
  return b <= 200 ? size_t{b} + 1 : static_cast<size_t>(b - 200) * 300 + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t capacity = size_t{data[0]} << 8 | data[1];
  const size_t chunks[3] = {ChunkSize(data[2]), ChunkSize(data[3]), ChunkSize(data[4])};
  ExactBlock source(data + 5, size - 5);

  ExactBlock whole(nullptr, capacity);
  DecodeCounts counts{};
  const DecodeResult result =
      DecompressStream(whole.data, capacity, source.data, source.size, &counts);

  ExactBlock buffer(nullptr, ChunkedDecodeBufferSize(*std::max_element(chunks, chunks + 3)));
  ChunkedDecode state;
  BeginChunkedDecode(&state, source.data, source.size, capacity);
  std::vector<uint8_t> pieces;
  DecodeResult chunked = DecodeOk;
  for (size_t call = 0; !state.finished; ++call) {
    const size_t chunk = chunks[call % 3];
    const uint8_t* piece = nullptr;
    size_t length = 0;
    chunked = DecodeChunk(&state, buffer.data, chunk, &piece, &length);
    FUZZ_CHECK(piece >= buffer.data && length <= buffer.size - size_t(piece - buffer.data));
    FUZZ_CHECK(length < chunk + kDecodeChunkSlack);
    FUZZ_CHECK(state.finished || length >= chunk);
    FUZZ_CHECK(pieces.size() + length <= capacity);
    pieces.insert(pieces.end(), piece, piece + length);
  }
  FUZZ_CHECK(chunked == result && state.result == result);
  FUZZ_CHECK(state.written == counts.written && pieces.size() == counts.written);
  FUZZ_CHECK(state.consumed == counts.consumed);
  FUZZ_CHECK(SameBytes(pieces.data(), whole.data, counts.written));
  return 0;
}

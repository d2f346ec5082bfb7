// libFuzzer target: the bounded decoder agrees with the plain bit-by-bit
// reference decoder on any input (same result, same bytes, same counts), and
// never reads or writes outside its exact-size buffers.
//
// Input: two bytes choosing the destination's capacity (0 to 65535), then
// the stream.
#include <cstdint>

#include "package/decompress.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = size_t{data[0]} << 8 | data[1];
  ExactBlock source(data + 2, size - 2);
  ExactBlock out(nullptr, capacity);
  DecodeCounts counts{};
  const DecodeResult result =
      DecompressStream(out.data, capacity, source.data, source.size, &counts);

  const ReferenceResult expected = ReferenceDecompress(source.data, source.size, capacity);
  FUZZ_CHECK(result == expected.result);
  FUZZ_CHECK(counts.written == expected.output.size());
  FUZZ_CHECK(counts.consumed == expected.consumed);
  FUZZ_CHECK(SameBytes(out.data, expected.output.data(), counts.written));
  return 0;
}

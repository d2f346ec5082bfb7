// libFuzzer target for the stream decoder: any input must decode or be
// rejected without reading or writing outside its buffers (AddressSanitizer
// watches), and the counts must stay inside the given ranges.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "package/decompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the destination capacity, so that both
  // "output full" and complete decodes are reached.
  size_t capacity = (size_t{data[0]} << 8 | data[1]) % 20000;
  std::vector<uint8_t> source(data + 2, data + size);  // exact-size copy: overreads trap
  std::vector<uint8_t> out(capacity);
  DecodeCounts counts{};
  DecompressStream(out.data(), out.size(), source.data(), source.size(), &counts);
  if (counts.written > capacity || counts.consumed > source.size()) std::abort();
  return 0;
}

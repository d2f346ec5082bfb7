// A deliberately plain decoder of FA2 compressed streams for tests and fuzz
// targets: one control bit and one byte at a time, written straight from the
// code tables, with the same result codes and counts as the real decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/decompress.h"

struct ReferenceResult {
  DecodeResult result = DecodeOk;
  std::vector<uint8_t> output;  // the bytes written, counts.written of them
  size_t consumed = 0;
};

// Decodes source[0, length) into at most capacity bytes.
ReferenceResult ReferenceDecompress(const uint8_t* source, size_t length, size_t capacity);

// Decoder of the FA2 compressed stream: 32-bit control words (read most
// significant bit first) interleaved with data bytes, coding literals,
// two-byte matches and general matches of 3 to 282 bytes at distances up to
// 8192, ended by a dedicated end code.
#pragma once

#include <cstddef>
#include <cstdint>

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
// counts, when given, is filled on every outcome.
DecodeResult DecompressStream(uint8_t* destination, size_t capacity,
                              const uint8_t* source, size_t sourceLength,
                              DecodeCounts* counts);

const char* DecodeResultText(DecodeResult result);

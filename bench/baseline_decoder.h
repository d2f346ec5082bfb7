// The earlier bit-at-a-time stream decoder, for same-run comparisons.
#pragma once

#include "package/decompress.h"

DecodeResult BaselineDecompressStream(uint8_t* destination, size_t capacity,
                                      const uint8_t* source, size_t sourceLength,
                                      DecodeCounts* counts);

// Compressor for the FA2 compressed stream (the format the package decoder
// reads; its codes and limits in package/fa2_format.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kCompressMinLevel = 1;
constexpr int kCompressMaxLevel = 9;
// Level 6: optimal parse with 64-deep hash chains. Levels above it gain
// well under one percent on game data at several times the time.
constexpr int kCompressDefaultLevel = 6;

// Appends the stream for data[0, size) to out. Levels: 1 fast greedy,
// 2 greedy longest match (chains of 32), 3-9 cost-optimal parse with growing
// search depth. Levels outside 1..9 are clamped. The stream decodes to
// exactly the input and ends with the end code.
void CompressStream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out);

inline std::vector<uint8_t> CompressStream(const uint8_t* data, size_t size, int level) {
  std::vector<uint8_t> out;
  CompressStream(data, size, level, &out);
  return out;
}

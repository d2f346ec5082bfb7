// Deterministic sample data for the tests of the compressor, the decoder and
// extraction.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sample {

inline uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = static_cast<uint8_t>(NextRandom(seed));
  return b;
}

// Words of an update script, with the code page 932 punctuation 、 and 。
// written as bytes, so that the text is the same whatever the execution
// character set of the file that includes this.
inline std::vector<uint8_t> Text(size_t n) {
  static const char* words[] = {"update ", "file ", "install ",     "disc ",
                                "folder ", "setup ", "\r\n",        "game ",
                                "=",       "UpdateFile01", "\x81\x41", "\x81\x42"};
  std::vector<uint8_t> b;
  uint32_t seed = 7;
  while (b.size() < n) {
    const char* w = words[NextRandom(seed) % 12];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

// Runs of one byte, 1 to 700 long.
inline std::vector<uint8_t> Runs(size_t n) {
  std::vector<uint8_t> b;
  uint32_t seed = 99;
  while (b.size() < n)
    b.insert(b.end(), 1 + NextRandom(seed) % 700, static_cast<uint8_t>(NextRandom(seed)));
  b.resize(n);
  return b;
}

// Random blocks repeated at distances around the window's edge.
inline std::vector<uint8_t> FarRepeats() {
  std::vector<uint8_t> b = RandomBytes(9000, 3);
  for (size_t gap : {8190u, 8191u, 8192u, 8193u, 8194u, 2303u, 2304u, 256u, 257u}) {
    size_t from = b.size() - gap;
    for (size_t i = 0; i < 300; ++i) b.push_back(b[from + i]);
    std::vector<uint8_t> noise = RandomBytes(gap % 97 + 5, static_cast<uint32_t>(gap));
    b.insert(b.end(), noise.begin(), noise.end());
  }
  return b;
}

// Short runs of random letters and repeats from up to 8,000 bytes back: a
// stream with matches of every kind that compresses to about half.
inline std::vector<uint8_t> MatchRich(size_t n, uint32_t seed) {
  std::vector<uint8_t> data(n);
  uint32_t s = seed;
  auto next = [&] { return (s = s * 1664525u + 1013904223u) >> 8; };
  for (size_t at = 0; at < n;) {
    uint32_t r = next();
    size_t run = std::min<size_t>(n - at, 1 + (r & 31));
    size_t back = 1 + next() % 8000;
    for (size_t i = 0; i < run; ++i)
      data[at + i] = at < back || r % 3 == 0 ? static_cast<uint8_t>(next() % 50 + 'A')
                                             : data[at + i - back];
    at += run;
  }
  return data;
}

}  // namespace sample

// The synthetic large entry of the benchmarks: 139,309,060 bytes (the size of
// the largest entry the updater carries) of words drawn by a fixed generator
// with a run of noise now and then, text that a fast compressor brings to
// roughly half its size. The decoding and the extraction benchmarks both
// use it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

constexpr size_t kSyntheticEntrySize = 139309060;

inline std::vector<uint8_t> MakeSyntheticEntry() {
  static const char* words[] = {
      "map",   "sprite", "sound", "level", "wall",  "floor", "door",  "key",
      "enemy", "item",   "light", "sky",   "music", "flat",  "thing", "sector",
      "line",  "vertex", "node",  "seg",   "patch", "color", "ammo",  "armor"};
  std::vector<uint8_t> data;
  data.reserve(kSyntheticEntrySize);
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  while (data.size() < kSyntheticEntrySize) {
    uint32_t r = next();
    if ((r >> 24) < 40) {
      for (int i = 0; i < 8; ++i) data.push_back(static_cast<uint8_t>(next() >> 24));
    } else {
      const char* w = words[(r >> 8) % (sizeof words / sizeof *words)];
      data.insert(data.end(), w, w + std::strlen(w));
      data.push_back((r & 7) ? ' ' : '\n');
    }
  }
  data.resize(kSyntheticEntrySize);
  return data;
}

// The fast decoder against a plain bit-by-bit one on streams of every kind
// (valid, corrupt, truncated, too large for the destination), and the
// chunked decoder against the whole-buffer one at many chunk sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "package/compress.h"
#include "package/decompress.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/stream_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// A stream of count random codes: literal runs of every length, two-byte and
// general matches of every distance class and length code, biased towards
// the short codes real data has. badShare of 1000 matches reach too far.
// Without the end code when unended.
Bytes RandomStream(uint32_t seed, size_t count, uint32_t badShare, bool unended = false) {
  StreamBuilder s;
  size_t produced = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t r = NextRandom(seed);
    uint32_t kind = r % 10;
    if (produced == 0 || kind < 4) {
      for (uint32_t n = 1 + NextRandom(seed) % (kind == 0 ? 40 : 3); n > 0; --n) {
        PutLiteral(s, static_cast<uint8_t>(NextRandom(seed)));
        ++produced;
      }
      continue;
    }
    bool bad = NextRandom(seed) % 1000 < badShare;
    if (kind < 6) {
      uint32_t limit = static_cast<uint32_t>(std::min<size_t>(produced, 2303));
      uint32_t d = NextRandom(seed) % 4 ? 1 + NextRandom(seed) % std::min<uint32_t>(limit, 300)
                                        : 1 + NextRandom(seed) % limit;
      if (bad && produced < 2303) d = static_cast<uint32_t>(produced) + 1;
      PutShortMatch(s, d);
      produced += 2;
    } else {
      uint32_t limit = static_cast<uint32_t>(std::min<size_t>(produced, 8192));
      uint32_t d = NextRandom(seed) % 3 ? 1 + NextRandom(seed) % std::min<uint32_t>(limit, 20)
                                        : 1 + NextRandom(seed) % limit;
      if (bad && produced < 8192) d = static_cast<uint32_t>(produced) + 1;
      static const uint32_t lengths[] = {3, 4, 5, 6, 7, 10, 11, 16, 17, 26, 27, 33, 100, 282};
      uint32_t length = NextRandom(seed) % 2 ? 3 + NextRandom(seed) % 8
                                             : lengths[NextRandom(seed) % 14];
      PutMatch(s, d, length);
      produced += length;
    }
  }
  if (!unended) PutEnd(s);
  return Finish(s);
}

Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"update ", "file ", "install ", "disc ", "\r\n", "game ",
                                "=", "UpdateFile01", "\x81\x41", "\x81\x42"};
  Bytes b;
  while (b.size() < n) {
    const char* w = words[NextRandom(seed) % 10];
    b.insert(b.end(), w, w + std::strlen(w));
    if (NextRandom(seed) % 50 == 0)
      for (int i = 0; i < 20; ++i) b.push_back(static_cast<uint8_t>(NextRandom(seed)));
  }
  b.resize(n);
  return b;
}

// Repeats at distances around the window's edge and runs of one byte.
Bytes FarRepeats(uint32_t seed) {
  Bytes b;
  for (int i = 0; i < 9000; ++i) b.push_back(static_cast<uint8_t>(NextRandom(seed)));
  for (int round = 0; round < 40; ++round) {
    size_t gap = 8185 + NextRandom(seed) % 8;
    if (gap > b.size()) gap = b.size();
    size_t from = b.size() - gap;
    size_t n = 3 + NextRandom(seed) % 400;
    for (size_t i = 0; i < n; ++i) b.push_back(b[from + i]);
    b.insert(b.end(), 1 + NextRandom(seed) % 300, static_cast<uint8_t>(NextRandom(seed)));
    for (int i = NextRandom(seed) % 50; i > 0; --i)
      b.push_back(static_cast<uint8_t>(NextRandom(seed)));
  }
  return b;
}

// DecompressStream and the reference must agree on everything they report.
void ExpectSameAsReference(const Bytes& stream, size_t capacity, const std::string& what) {
  SCOPED_TRACE(what + ", capacity " + std::to_string(capacity));
  ReferenceResult expected = ReferenceDecompress(stream.data(), stream.size(), capacity);
  std::vector<uint8_t> out(capacity);  // exact size: the sanitizer sees any overrun
  DecodeCounts counts{};
  DecodeResult result =
      DecompressStream(out.data(), capacity, stream.data(), stream.size(), &counts);
  ASSERT_EQ(result, expected.result) << DecodeResultText(result);
  ASSERT_EQ(counts.written, expected.output.size());
  ASSERT_EQ(counts.consumed, expected.consumed);
  ASSERT_TRUE(std::equal(expected.output.begin(), expected.output.end(), out.begin()));
}

TEST(FastDecoder, AgreesWithTheReferenceOnRandomStreams) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    size_t codes = seed % 3 == 0 ? 20000 : 1 + seed * 37;
    Bytes stream = RandomStream(seed, codes, seed % 4 == 0 ? 2 : 0, seed % 7 == 0);
    size_t full = ReferenceDecompress(stream.data(), stream.size(), SIZE_MAX).output.size();
    for (size_t capacity : {full, full + 1000, full > 0 ? full - 1 : 0, full / 2, size_t{0}})
      ExpectSameAsReference(stream, capacity, "seed " + std::to_string(seed));
  }
}

TEST(FastDecoder, AgreesWithTheReferenceOnCorruptStreams) {
  Bytes data = Text(60000, 5);
  Bytes stream = CompressStream(data.data(), data.size(), kCompressDefaultLevel);
  uint32_t seed = 77;
  for (int round = 0; round < 200; ++round) {
    Bytes bad = stream;
    for (int flips = 1 + round % 4; flips > 0; --flips)
      bad[NextRandom(seed) % bad.size()] ^= static_cast<uint8_t>(1 + NextRandom(seed) % 255);
    if (round % 3 == 0) bad.resize(NextRandom(seed) % bad.size());
    ExpectSameAsReference(bad, data.size(), "round " + std::to_string(round));
  }
  for (int round = 0; round < 50; ++round) {
    Bytes noise(NextRandom(seed) % 3000);
    for (auto& b : noise) b = static_cast<uint8_t>(NextRandom(seed));
    ExpectSameAsReference(noise, 1 << 16, "noise " + std::to_string(round));
  }
}

// Near the end of a large destination the decoder turns careful: a stream
// one byte too long fails there without touching the bytes behind.
TEST(FastDecoder, WritesNothingPastTheCapacityOfALargeDestination) {
  Bytes data = FarRepeats(9);
  Bytes stream = CompressStream(data.data(), data.size(), kCompressDefaultLevel);
  for (size_t shortBy : {size_t{1}, size_t{2}, size_t{31}, size_t{282}, size_t{400}}) {
    size_t capacity = data.size() - shortBy;
    Bytes buffer(capacity + 512, 0xA5);
    DecodeCounts counts{};
    EXPECT_EQ(DecompressStream(buffer.data(), capacity, stream.data(), stream.size(), &counts),
              DecodeOutputFull);
    EXPECT_LE(counts.written, capacity);
    for (size_t i = capacity; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << i;
  }
}

// ---- chunked decoding ----

struct Chunked {
  DecodeResult result;
  Bytes output;
  uint64_t written;
  size_t consumed;
};

// Decodes stream in pieces of chunkSizes (used in turn) through one buffer
// of exactly the size the largest needs; checks each piece's length.
Chunked DecodeInPieces(const Bytes& stream, uint64_t capacity, std::vector<size_t> chunkSizes) {
  size_t largest = *std::max_element(chunkSizes.begin(), chunkSizes.end());
  Bytes buffer(ChunkedDecodeBufferSize(largest));
  ChunkedDecode state;
  BeginChunkedDecode(&state, stream.data(), stream.size(), capacity);
  Chunked c{DecodeOk, {}, 0, 0};
  for (size_t call = 0;; ++call) {
    size_t chunk = chunkSizes[call % chunkSizes.size()];
    const uint8_t* piece = nullptr;
    size_t length = 0;
    c.result = DecodeChunk(&state, buffer.data(), chunk, &piece, &length);
    EXPECT_GE(piece, buffer.data());
    EXPECT_LE(piece + length, buffer.data() + buffer.size());
    EXPECT_LT(length, chunk + kDecodeChunkSlack);
    if (c.result == DecodeOk && !state.finished) {
      EXPECT_GE(length, chunk);
    }
    c.output.insert(c.output.end(), piece, piece + length);
    if (state.finished) break;
  }
  // Calls after the finish give nothing more.
  const uint8_t* piece;
  size_t length = 1;
  EXPECT_EQ(DecodeChunk(&state, buffer.data(), chunkSizes[0], &piece, &length), c.result);
  EXPECT_EQ(length, 0u);
  c.written = state.written;
  c.consumed = state.consumed;
  return c;
}

void ExpectChunkedSameAsWhole(const Bytes& stream, size_t capacity,
                              const std::vector<size_t>& chunkSizes, const std::string& what) {
  SCOPED_TRACE(what + ", capacity " + std::to_string(capacity) + ", chunk " +
               std::to_string(chunkSizes[0]));
  Bytes whole(capacity);
  DecodeCounts counts{};
  DecodeResult result =
      DecompressStream(whole.data(), capacity, stream.data(), stream.size(), &counts);
  whole.resize(counts.written);
  Chunked c = DecodeInPieces(stream, capacity, chunkSizes);
  ASSERT_EQ(c.result, result) << DecodeResultText(c.result);
  ASSERT_EQ(c.written, counts.written);
  ASSERT_EQ(c.output.size(), counts.written);
  ASSERT_EQ(c.consumed, counts.consumed);
  ASSERT_TRUE(c.output == whole);
}

const size_t kChunkSizes[] = {1,   2,   3,    7,    26,   27,   281,  282,   283,
                              351, 352, 353,  1000, 4096, 8191, 8192, 8193, 65536};

TEST(ChunkedDecode, SameAsWholeAtManyChunkSizes) {
  struct Input {
    const char* name;
    Bytes data;
  };
  const Input inputs[] = {{"text", Text(200000, 1)}, {"far repeats", FarRepeats(2)}};
  for (const Input& input : inputs) {
    for (int level : {1, kCompressDefaultLevel}) {
      Bytes stream = CompressStream(input.data.data(), input.data.size(), level);
      for (size_t chunk : kChunkSizes)
        ExpectChunkedSameAsWhole(stream, input.data.size(), {chunk},
                                 std::string(input.name) + " level " + std::to_string(level));
      ExpectChunkedSameAsWhole(stream, input.data.size(), {input.data.size()}, input.name);
    }
  }
  Bytes empty = CompressStream(nullptr, 0, kCompressDefaultLevel);
  for (size_t chunk : {1, 100}) ExpectChunkedSameAsWhole(empty, 0, {chunk}, "empty");
}

TEST(ChunkedDecode, ChunkSizeMayChangeFromCallToCall) {
  Bytes data = FarRepeats(3);
  Bytes stream = CompressStream(data.data(), data.size(), kCompressDefaultLevel);
  ExpectChunkedSameAsWhole(stream, data.size(), {1, 5000, 3, 283, 8192, 17}, "varying");
}

TEST(ChunkedDecode, CorruptStreamsGiveTheSameResultsAndCounts) {
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    Bytes stream = RandomStream(seed, 3000, seed % 2 ? 3 : 0, seed % 5 == 0);
    size_t full = ReferenceDecompress(stream.data(), stream.size(), SIZE_MAX).output.size();
    for (size_t capacity : {full, full / 3, full + 5}) {
      for (size_t chunk : {size_t{1}, size_t{7}, size_t{300}, size_t{5000}})
        ExpectChunkedSameAsWhole(stream, capacity, {chunk}, "seed " + std::to_string(seed));
    }
  }
  Bytes data = Text(50000, 9);
  Bytes stream = CompressStream(data.data(), data.size(), 1);
  for (size_t cut : {size_t{0}, size_t{3}, size_t{4}, size_t{1000}, stream.size() - 1}) {
    Bytes prefix(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut));
    for (size_t chunk : {size_t{1}, size_t{4096}})
      ExpectChunkedSameAsWhole(prefix, data.size(), {chunk}, "prefix " + std::to_string(cut));
  }
}

}  // namespace

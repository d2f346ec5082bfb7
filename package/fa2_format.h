// The FA2 package format: a 16-byte header, the entries' data (each entry
// starting on a 16-byte boundary), then the directory of 32-byte entries,
// which may itself be one compressed stream. All integers are little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kPackageMagic = 0x00324146;  // "FA2\0"
constexpr uint32_t kHeaderFlagCompressedDirectory = 1;
constexpr uint8_t kEntryFlagCompressed = 2;
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 32;
constexpr uint32_t kEntryNameField = 15;    // name plus its NUL
constexpr uint32_t kEntryNameMax = 14;      // longest name that fits
constexpr uint32_t kDataAlignment = 16;

struct PackageHeader {
  uint32_t magic;
  uint32_t flags;
  uint32_t directoryOffset;
  uint32_t entryCount;
};

struct PackageEntry {
  char name[kEntryNameField];
  uint8_t flags;
  uint32_t fileTimeLow;   // FILETIME, low half first
  uint32_t fileTimeHigh;
  uint32_t originalSize;
  uint32_t storedSize;
};

// The structs are read straight from the package bytes, so their layout must
// be the format's own.
static_assert(sizeof(PackageHeader) == kHeaderSize);
static_assert(sizeof(PackageEntry) == kEntrySize);
static_assert(offsetof(PackageEntry, flags) == 15);
static_assert(offsetof(PackageEntry, fileTimeLow) == 16);
static_assert(offsetof(PackageEntry, originalSize) == 24);
static_assert(offsetof(PackageEntry, storedSize) == 28);

// The opened package: a copy of the header followed directly by the
// uncompressed directory. One block, owned by whoever opened it.
struct UpdatePackage {
  PackageHeader header;
  PackageEntry entries[1];  // header.entryCount of them
};
static_assert(offsetof(UpdatePackage, entries) == kHeaderSize);

// The entry data of one entry occupies storedSize bytes, padded with zeros
// to the next multiple of 16.
// Computed in 64 bits so that a hostile size cannot wrap to a small one.
constexpr uint64_t PaddedSize64(uint32_t storedSize) {
  return (uint64_t{storedSize} + (kDataAlignment - 1)) & ~uint64_t{kDataAlignment - 1};
}

// ---- The compressed stream ----
// 32-bit control words (read most significant bit first) interleaved with
// data bytes, coding literals, two-byte matches, general matches and an end
// code (package/decompress.cpp spells the codes out). The limits of the
// codes, which the decoder's tables and the compressor are checked against:
constexpr uint32_t kShortestMatch = 3;             // of a general match
constexpr uint32_t kLongestMatch = 282;            // 27 plus a length byte
constexpr uint32_t kFarthestMatchDistance = 8192;  // 4096 plus 12 bits
// A two-byte match reaches 257 plus 11 bits, less the last value, which is
// the end code.
constexpr uint32_t kFarthestPairDistance = 2303;

// The most a compressed stream can decode to. The longest match costs 25
// bits (2 + 1 + 8 + 1 for the distance, 5 + 8 for the length) and no code
// gives more bytes per bit, so n stream bytes never give more than
// n * 8 * 282 / 25, about 90 times n. A compressed directory that claims more
// than this of the bytes left for it is refused before a block is taken.
constexpr uint32_t kLongestMatchBits = 25;
constexpr uint64_t MaxDecodedBytes(uint64_t streamBytes) {
  return streamBytes * 8 * kLongestMatch / kLongestMatchBits;
}

// The structs above are read in place from little-endian bytes.
static_assert(std::endian::native == std::endian::little);

// One entry's data out of a package, piece by piece: every way it can
// disagree with its entry, entries of several pieces, and the package that
// OpenPackage refuses because an entry's data lies outside it.
#include "package/entry_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/test_files.h"

namespace {

Bytes Digits(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>("0123456789"[i % 10]);
  return data;
}

Bytes Mixed(size_t n) { return sample::MatchRich(n, 77); }

// Entries "A" (5 bytes) and "B", with a plain directory.
Bytes Build(bool store, const Bytes& b = Digits(3000)) {
  Bytes a = {'f', 'i', 'r', 's', 't'};
  PackageOptions options;
  options.store = store;
  options.level = 1;
  options.compressDirectory = false;
  Bytes out;
  std::string error;
  EXPECT_TRUE(BuildPackage({{"A", 0, a.data(), a.size()}, {"B", 0, b.data(), b.size()}}, options,
                           &out, &error))
      << error;
  return out;
}

PackageEntry* EntryIn(Bytes& bytes, uint32_t index) {
  uint32_t directory;
  std::memcpy(&directory, bytes.data() + 8, 4);
  return reinterpret_cast<PackageEntry*>(bytes.data() + directory + index * kEntrySize);
}

struct Taken {
  EntryDataResult result = EntryDataOk;
  EntryReader reader;
  Bytes bytes;            // what the pieces held, in order
  size_t pieces = 0;
  size_t largestPiece = 0;
  bool inPackage = true;  // every piece pointed into the package bytes
};

// Opens the package, lets patch spoil the opened directory (as a damaged
// block would be), and reads entry `index` piece by piece to its end or
// first failure.
Taken Take(const Bytes& package, uint32_t index,
           const std::function<void(PackageEntry*)>& patch = nullptr) {
  Taken t;
  UpdatePackage* opened = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  EXPECT_NE(opened, nullptr);
  if (!opened) return t;
  if (patch) patch(opened->entries);
  Bytes buffer(kEntryBufferSize);
  t.result = OpenEntryData(opened, index, package.data(), static_cast<uint32_t>(package.size()),
                           &t.reader);
  while (t.result == EntryDataOk && !t.reader.finished) {
    const uint8_t* piece;
    size_t length;
    t.result = ReadEntryPiece(&t.reader, buffer.data(), &piece, &length);
    if (t.result != EntryDataOk) break;
    ++t.pieces;
    t.largestPiece = std::max(t.largestPiece, length);
    t.inPackage = t.inPackage && piece >= package.data() && piece + length <= package.data() + package.size();
    t.bytes.insert(t.bytes.end(), piece, piece + length);
  }
  FreeBlock(opened);
  return t;
}

}  // namespace

TEST(EntryData, StoredEntriesComeFromThePackageAndCompressedOnesAreDecoded) {
  Taken t = Take(Build(true), 1);
  ASSERT_EQ(t.result, EntryDataOk);
  EXPECT_EQ(t.bytes, Digits(3000));
  EXPECT_TRUE(t.inPackage);

  Bytes compressed = Build(false);
  ASSERT_TRUE(EntryIn(compressed, 1)->flags & kEntryFlagCompressed);
  t = Take(compressed, 1);
  ASSERT_EQ(t.result, EntryDataOk);
  EXPECT_EQ(t.bytes, Digits(3000));
  EXPECT_FALSE(t.inPackage);
  EXPECT_EQ(t.reader.decode.written, 3000u);
}

TEST(EntryData, EntriesOfSeveralPiecesRoundTripExactlyThroughTheFixedBuffer) {
  const Bytes data = Mixed(3 * kEntryPieceSize + 12345);
  for (bool store : {false, true}) {
    SCOPED_TRACE(store ? "stored" : "compressed");
    Bytes package = Build(store, data);
    ASSERT_EQ((EntryIn(package, 1)->flags & kEntryFlagCompressed) != 0, !store);
    Taken t = Take(package, 1);
    ASSERT_EQ(t.result, EntryDataOk);
    EXPECT_TRUE(t.bytes == data);
    EXPECT_GE(t.pieces, 4u);
    EXPECT_LT(t.largestPiece, kEntryPieceSize + kDecodeChunkSlack);
    EXPECT_EQ(t.inPackage, store);
  }
  // An empty entry ends at once, with nothing.
  Bytes empty = Build(true, Bytes{});
  Taken t = Take(empty, 1);
  EXPECT_EQ(t.result, EntryDataOk);
  EXPECT_TRUE(t.reader.finished);
  EXPECT_TRUE(t.bytes.empty());
}

TEST(EntryData, EachDisagreementHasItsOwnResult) {
  struct Case {
    const char* what;
    bool store;
    std::function<void(PackageEntry*)> patch;
    EntryDataResult result;
    DecodeResult decode;
  } cases[] = {
      {"stored bytes run past the package", true,
       [](PackageEntry* e) { e[1].storedSize = 0x10000; }, EntryDataOutside, DecodeOk},
      {"data offset wraps past 32 bits", true,
       [](PackageEntry* e) { e[0].storedSize = 0xFFFFFFF8u; }, EntryDataOutside, DecodeOk},
      {"stored size differs from the original size", true,
       [](PackageEntry* e) { e[1].originalSize -= 1; }, EntryDataSizesDiffer, DecodeOk},
      {"stream ends before its end code", false,
       [](PackageEntry* e) { e[1].storedSize -= 1; }, EntryDataCorrupt, DecodeTruncated},
      {"stream decodes to more bytes", false,
       [](PackageEntry* e) { e[1].originalSize -= 1; }, EntryDataCorrupt, DecodeOutputFull},
      {"stream decodes to fewer bytes", false,
       [](PackageEntry* e) { e[1].originalSize += 1; }, EntryDataWrongSize, DecodeOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Taken t = Take(Build(c.store), 1, c.patch);
    EXPECT_EQ(t.result, c.result);
    EXPECT_FALSE(t.reader.finished);
    EXPECT_EQ(t.reader.decode.result, c.decode);
  }
  Taken t = Take(Build(false), 1, [](PackageEntry* e) { e[1].originalSize += 1; });
  EXPECT_EQ(t.reader.decode.written, 3000u);
}

// A stream spoilt near its end is found out only after whole pieces were
// handed out: the reader never says finished, so a writer keeps them away
// from the destination.
TEST(EntryData, CorruptionLateInALargeEntryFailsAfterEarlierPieces) {
  Bytes package = Build(false, Mixed(3 * kEntryPieceSize));
  uint32_t stored = EntryIn(package, 1)->storedSize;
  Taken cut = Take(package, 1, [](PackageEntry* e) { e[1].storedSize -= 1; });
  EXPECT_EQ(cut.result, EntryDataCorrupt);
  EXPECT_EQ(cut.reader.decode.result, DecodeTruncated);
  EXPECT_GE(cut.pieces, 2u);
  EXPECT_FALSE(cut.reader.finished);

  Taken longer = Take(package, 1, [](PackageEntry* e) { e[1].originalSize += 1000; });
  EXPECT_EQ(longer.result, EntryDataWrongSize);
  EXPECT_EQ(longer.reader.decode.written, 3 * kEntryPieceSize);
  EXPECT_FALSE(longer.reader.finished);

  // Bytes of the stream's last part overwritten: a far distance or a stream
  // that runs on; either way it is refused.
  uint32_t offset = 0;
  UpdatePackage* opened = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  ASSERT_NE(opened, nullptr);
  ASSERT_TRUE(EntryDataInside(opened, 1, static_cast<uint32_t>(package.size()), &offset));
  FreeBlock(opened);
  for (uint32_t i = stored - 64; i < stored; ++i) package[offset + i] = 0xFF;
  Taken spoilt = Take(package, 1);
  EXPECT_NE(spoilt.result, EntryDataOk);
  EXPECT_FALSE(spoilt.reader.finished);
}

TEST(EntryData, CheckEntryDataReadsTheWholeEntry) {
  Bytes package = Build(false, Mixed(kEntryPieceSize + 100));
  UpdatePackage* opened = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  ASSERT_NE(opened, nullptr);
  Bytes buffer(kEntryBufferSize);
  EntryReader reader;
  EXPECT_EQ(CheckEntryData(opened, 1, package.data(), static_cast<uint32_t>(package.size()),
                           buffer.data(), &reader),
            EntryDataOk);
  EXPECT_TRUE(reader.finished);
  EXPECT_EQ(reader.decode.written, kEntryPieceSize + 100);
  opened->entries[1].originalSize -= 1;
  EXPECT_EQ(CheckEntryData(opened, 1, package.data(), static_cast<uint32_t>(package.size()),
                           buffer.data(), &reader),
            EntryDataCorrupt);
  FreeBlock(opened);
}

// Both forms of OpenPackage refuse a directory that puts an entry's data
// past the directory's start or the package's end, and say which entry.
TEST(OpenPackage, EntryWhoseDataLiesOutsideIsRefused) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> patch;
    uint32_t entry;
  } cases[] = {
      {"last entry's bytes run past the end", [](Bytes& b) { EntryIn(b, 1)->storedSize = 0x10000; }, 1},
      {"first entry's padded size pushes the second out",
       [](Bytes& b) { EntryIn(b, 0)->storedSize = static_cast<uint32_t>(b.size()); }, 0},
      {"offsets wrap past 32 bits", [](Bytes& b) { EntryIn(b, 0)->storedSize = 0xFFFFFFF8u; }, 0},
      {"a stored size grown by 16 runs into the directory",
       [](Bytes& b) { EntryIn(b, 1)->storedSize += 16; }, 1},
      {"the first entry grown by 16 pushes the last into the directory",
       [](Bytes& b) { EntryIn(b, 0)->storedSize += 16; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes package = Build(true);
    c.patch(package);
    PackageProblem problem;
    UpdatePackage* opened =
        OpenPackageBytes(package.data(), static_cast<uint32_t>(package.size()), &problem);
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(problem.what, OpenEntryOutside);
    EXPECT_EQ(problem.entry, c.entry);
    FreeBlock(opened);
    std::string path = MakeScratchFolder("outside") + "/OUT.FA2";
    ASSERT_TRUE(WriteWholeFile(path, package));
    UpdatePackage* file = OpenPackage(path.c_str(), 0);
    EXPECT_EQ(file, nullptr);
    FreeBlock(file);
  }
  EXPECT_STREQ(OpenProblemText(OpenEntryOutside), "an entry's data lies outside the data area (past the directory or the end)");

  // Data that ends exactly where the directory starts still opens.
  Bytes package = Build(true);
  uint32_t directory;
  std::memcpy(&directory, package.data() + 8, 4);
  EntryIn(package, 1)->storedSize = directory - 16 - static_cast<uint32_t>(PaddedSize64(EntryIn(package, 0)->storedSize));
  UpdatePackage* opened = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  EXPECT_NE(opened, nullptr);
  FreeBlock(opened);
}

// One entry's data out of a package: every way it can disagree with its
// entry, and the decoded bytes when it agrees.
#include "package/entry_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tests/support/test_files.h"

namespace {

Bytes Digits(size_t n) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>("0123456789"[i % 10]);
  return data;
}

// Entries "A" (5 bytes) and "B" (3000 bytes), with a plain directory that a
// test may patch in place.
Bytes Build(bool store) {
  Bytes a = {'f', 'i', 'r', 's', 't'}, b = Digits(3000);
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
  EntryDataResult result;
  EntryData data;
  Bytes bytes;  // the entry's bytes on success
};

Taken Take(const Bytes& package, uint32_t index) {
  UpdatePackage* opened = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  EXPECT_NE(opened, nullptr);
  Taken t{};
  if (!opened) return t;
  t.result = DecodeEntryData(opened, index, package.data(), static_cast<uint32_t>(package.size()),
                             &t.data);
  if (t.result == EntryDataOk)
    t.bytes.assign(t.data.bytes, t.data.bytes + opened->entries[index].originalSize);
  FreeBlock(t.data.block);
  FreeBlock(opened);
  return t;
}

}  // namespace

TEST(DecodeEntryData, StoredEntriesAreReadInPlaceAndCompressedOnesDecoded) {
  Bytes stored = Build(true);
  Taken t = Take(stored, 1);
  ASSERT_EQ(t.result, EntryDataOk);
  EXPECT_EQ(t.bytes, Digits(3000));
  EXPECT_EQ(t.data.block, nullptr);
  EXPECT_EQ(t.data.bytes, stored.data() + 32);  // after the 5 bytes of "A", padded

  Bytes compressed = Build(false);
  ASSERT_TRUE(EntryIn(compressed, 1)->flags & kEntryFlagCompressed);
  t = Take(compressed, 1);
  ASSERT_EQ(t.result, EntryDataOk);
  EXPECT_EQ(t.bytes, Digits(3000));
  EXPECT_NE(t.data.block, nullptr);
  EXPECT_EQ(t.data.decodedBytes, 3000u);
}

TEST(DecodeEntryData, EachDisagreementHasItsOwnResult) {
  struct Case {
    const char* what;
    bool store;
    std::function<void(Bytes&)> patch;
    EntryDataResult result;
    DecodeResult decode;
  } cases[] = {
      {"stored bytes run past the package", true,
       [](Bytes& b) { EntryIn(b, 1)->storedSize = static_cast<uint32_t>(b.size()); },
       EntryDataOutside, DecodeOk},
      {"data offset wraps past 32 bits", true,
       [](Bytes& b) { EntryIn(b, 0)->storedSize = 0xFFFFFFF8u; }, EntryDataOutside, DecodeOk},
      {"stored size differs from the original size", true,
       [](Bytes& b) { EntryIn(b, 1)->originalSize -= 1; }, EntryDataSizesDiffer, DecodeOk},
      {"stream ends before its end code", false,
       [](Bytes& b) { EntryIn(b, 1)->storedSize -= 1; }, EntryDataCorrupt, DecodeTruncated},
      {"stream decodes to more bytes", false,
       [](Bytes& b) { EntryIn(b, 1)->originalSize -= 1; }, EntryDataCorrupt, DecodeOutputFull},
      {"stream decodes to fewer bytes", false,
       [](Bytes& b) { EntryIn(b, 1)->originalSize += 1; }, EntryDataWrongSize, DecodeOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes package = Build(c.store);
    c.patch(package);
    Taken t = Take(package, 1);
    EXPECT_EQ(t.result, c.result);
    EXPECT_EQ(t.data.decode, c.decode);
    EXPECT_EQ(t.data.bytes, nullptr);
    EXPECT_EQ(t.data.block, nullptr);  // nothing left to free
  }
  Bytes package = Build(false);
  EntryIn(package, 1)->originalSize += 1;
  EXPECT_EQ(Take(package, 1).data.decodedBytes, 3000u);
}

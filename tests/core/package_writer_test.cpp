// Packages built by the writer, read back by OpenPackage in both forms, and
// packages broken on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/block.h"
#include "package/compress.h"
#include "package/decompress.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_files.h"

namespace {

uint32_t Get32(const Bytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void Set32(Bytes& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

const std::string kUpdateIni =
    "[SETUP]\r\nCompanyName=Maker\r\nGameFolder=Game\r\n[UPDATE]\r\nUpdateFile01=GAME.DAT\r\n"
    "UpdateFile02=GAME.DAT\r\nRequiredDiskSpace=1000\r\nUpdateFile03=GAME.DAT\r\n";

Bytes LargerEntry() {
  Bytes b;
  uint32_t s = 1;
  while (b.size() < 70001) {
    s = s * 1103515245u + 12345u;
    b.insert(b.end(), 1 + (s >> 28), static_cast<uint8_t>(s >> 16));
  }
  b.resize(70001);
  return b;
}

struct Built {
  Bytes ini, large, package;
};

Built BuildLikeTheProgramsOwn(const PackageOptions& options = {}) {
  Built b;
  b.ini.assign(kUpdateIni.begin(), kUpdateIni.end());
  b.large = LargerEntry();
  std::vector<PackageInput> inputs = {
      {"UPDATE.INI", UnixToFileTime(1700000000), b.ini.data(), b.ini.size()},
      {"GAME.DAT", UnixToFileTime(1600000000, 500), b.large.data(), b.large.size()},
  };
  std::string error;
  EXPECT_TRUE(BuildPackage(inputs, options, &b.package, &error)) << error;
  return b;
}

Bytes EntryData(const Bytes& package, const UpdatePackage* p, uint32_t i) {
  uint32_t offset;
  EXPECT_TRUE(EntryDataInside(p, i, static_cast<uint32_t>(package.size()), &offset));
  const PackageEntry& e = p->entries[i];
  if (!(e.flags & kEntryFlagCompressed))
    return Bytes(package.begin() + offset, package.begin() + offset + e.storedSize);
  Bytes out(e.originalSize);
  DecodeCounts c{};
  EXPECT_EQ(DecompressStream(out.data(), out.size(), package.data() + offset, e.storedSize, &c),
            DecodeOk);
  EXPECT_EQ(c.written, e.originalSize);
  EXPECT_EQ(c.consumed, e.storedSize);
  return out;
}

TEST(PackageWriter, LayoutLikeTheProgramsOwnPackage) {
  Built b = BuildLikeTheProgramsOwn();
  const Bytes& p = b.package;
  ASSERT_GE(p.size(), 16u);
  EXPECT_EQ(Get32(p, 0), kPackageMagic);
  EXPECT_EQ(Get32(p, 4), kHeaderFlagCompressedDirectory);
  EXPECT_EQ(Get32(p, 12), 2u);

  UpdatePackage* mem = OpenPackage(p.data(), static_cast<uint32_t>(p.size()));
  ASSERT_NE(mem, nullptr);
  const PackageEntry& ini = mem->entries[0];
  const PackageEntry& large = mem->entries[1];
  EXPECT_STREQ(ini.name, "UPDATE.INI");
  EXPECT_STREQ(large.name, "GAME.DAT");
  EXPECT_EQ(ini.flags, kEntryFlagCompressed);
  EXPECT_EQ(large.flags, kEntryFlagCompressed);
  EXPECT_EQ(ini.originalSize, b.ini.size());
  EXPECT_EQ(large.originalSize, b.large.size());
  EXPECT_EQ(uint64_t{ini.fileTimeHigh} << 32 | ini.fileTimeLow, UnixToFileTime(1700000000));

  uint32_t first, second;
  ASSERT_TRUE(EntryDataOffset(mem, 0, &first));
  ASSERT_TRUE(EntryDataOffset(mem, 1, &second));
  EXPECT_EQ(first, 16u);
  EXPECT_EQ(second, 16 + (ini.storedSize + 15) / 16 * 16);
  uint32_t directoryOffset = Get32(p, 8);
  EXPECT_EQ(directoryOffset, second + (large.storedSize + 15) / 16 * 16);
  // Padding is zero.
  for (uint32_t i = first + ini.storedSize; i < second; ++i) EXPECT_EQ(p[i], 0) << i;

  // The directory stream runs to the very last byte.
  Bytes dir(64);
  DecodeCounts c{};
  ASSERT_EQ(DecompressStream(dir.data(), dir.size(), p.data() + directoryOffset,
                             p.size() - directoryOffset, &c),
            DecodeOk);
  EXPECT_EQ(c.written, 64u);
  EXPECT_EQ(c.consumed, p.size() - directoryOffset);

  EXPECT_EQ(EntryData(p, mem, 0), b.ini);
  EXPECT_EQ(EntryData(p, mem, 1), b.large);

  std::string path = MakeScratchFolder("pkg") + "/UPDATE.FA2";
  ASSERT_TRUE(WriteWholeFile(path, p));
  UpdatePackage* file = OpenPackage(path.c_str(), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::memcmp(file, mem, 16 + 64), 0);
  FreeBlock(file);
  FreeBlock(mem);
}

TEST(PackageWriter, StoredEntriesAndPlainDirectory) {
  PackageOptions options;
  options.store = true;
  options.compressDirectory = false;
  Built b = BuildLikeTheProgramsOwn(options);
  const Bytes& p = b.package;
  EXPECT_EQ(Get32(p, 4), 0u);
  EXPECT_EQ(p.size(), Get32(p, 8) + 64);
  UpdatePackage* mem = OpenPackage(p.data(), static_cast<uint32_t>(p.size()));
  ASSERT_NE(mem, nullptr);
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(mem->entries[i].flags, 0);
    EXPECT_EQ(mem->entries[i].storedSize, mem->entries[i].originalSize);
  }
  EXPECT_EQ(EntryData(p, mem, 0), b.ini);
  EXPECT_EQ(EntryData(p, mem, 1), b.large);
  FreeBlock(mem);
}

TEST(PackageWriter, EmptyAndIncompressibleEntriesAreStored) {
  Bytes random(1000);
  uint32_t s = 5;
  for (auto& x : random) x = static_cast<uint8_t>((s = s * 1664525u + 1013904223u) >> 24);
  std::vector<PackageInput> inputs = {{"EMPTY", 0, nullptr, 0}, {"NOISE.BIN", 0, random.data(), random.size()}};
  Bytes p;
  std::string error;
  ASSERT_TRUE(BuildPackage(inputs, {}, &p, &error)) << error;
  UpdatePackage* mem = OpenPackage(p.data(), static_cast<uint32_t>(p.size()));
  ASSERT_NE(mem, nullptr);
  EXPECT_EQ(mem->entries[0].storedSize, 0u);
  uint32_t second;
  ASSERT_TRUE(EntryDataOffset(mem, 1, &second));
  EXPECT_EQ(second, 16u);  // an empty entry takes no room
  EXPECT_EQ(mem->entries[1].flags, 0);
  EXPECT_EQ(EntryData(p, mem, 1), random);
  FreeBlock(mem);
}

TEST(PackageWriter, NamesMustFitTheField) {
  Bytes data = {1, 2, 3};
  Bytes p;
  std::string error;
  EXPECT_TRUE(BuildPackage({{"ABCDEFGHIJ.TXT", 0, data.data(), 3}}, {}, &p, &error)) << error;
  // Code page 932 names whose second byte is 0x5C are plain names.
  for (const char* good : {"表.DAT", "ソ.DAT", "能力表示.TXT", "ソソソソソソソ"}) {
    error.clear();
    EXPECT_TRUE(BuildPackage({{good, 0, data.data(), 3}}, {}, &p, &error)) << good << ": " << error;
  }
  for (const char* bad : {"", "ABCDEFGHIJK.TXT", "DIR/FILE", "A\\B", "表\\B", "C:X", ".", "..",
                          "ソソソソソソソソ", "AB\x95"}) {
    error.clear();
    EXPECT_FALSE(BuildPackage({{bad, 0, data.data(), 3}}, {}, &p, &error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(p.empty());
  }
}

TEST(PackageWriter, FileTimeConversion) {
  EXPECT_EQ(UnixToFileTime(0), 116444736000000000ull);
  uint32_t ns = 0;
  EXPECT_EQ(FileTimeToUnix(116444736000000000ull + 15, &ns), 0);
  EXPECT_EQ(ns, 1500u);
  EXPECT_EQ(FileTimeToUnix(UnixToFileTime(1234567890, 987654300), &ns), 1234567890);
  EXPECT_EQ(ns, 987654300u);
  EXPECT_EQ(FileTimeToUnix(0), -11644473600ll);

  // Both ends of a FILETIME, and Unix times past them, without overflow.
  EXPECT_EQ(FileTimeToUnix(UINT64_MAX, &ns), 1833029933770ll);
  EXPECT_EQ(ns, 955161500u);
  EXPECT_EQ(UnixToFileTime(1833029933770ll, 955161500u), UINT64_MAX);
  EXPECT_EQ(UnixToFileTime(1833029933770ll, 999999999u), UINT64_MAX);
  EXPECT_EQ(UnixToFileTime(1833029933771ll), UINT64_MAX);
  EXPECT_EQ(UnixToFileTime(INT64_MAX, 999999999u), UINT64_MAX);
  EXPECT_EQ(UnixToFileTime(-11644473600ll), 0u);
  EXPECT_EQ(UnixToFileTime(INT64_MIN), 0u);
}

// Each broken package is refused by both forms of OpenPackage.
void ExpectRefused(const Bytes& p, const char* what) {
  SCOPED_TRACE(what);
  if (!p.empty()) {
    UpdatePackage* mem = OpenPackage(p.data(), static_cast<uint32_t>(p.size()));
    EXPECT_EQ(mem, nullptr);
    FreeBlock(mem);
  }
  std::string path = MakeScratchFolder("bad") + "/BAD.FA2";
  ASSERT_TRUE(WriteWholeFile(path, p));
  UpdatePackage* file = OpenPackage(path.c_str(), 0);
  EXPECT_EQ(file, nullptr);
  FreeBlock(file);
}

TEST(PackageWriter, BrokenPackagesAreRefused) {
  Built b = BuildLikeTheProgramsOwn();
  const Bytes& good = b.package;

  Bytes magic = good;
  magic[2] = 'X';
  ExpectRefused(magic, "wrong magic");
  ExpectRefused(Bytes(good.begin(), good.begin() + 15), "shorter than the header");
  ExpectRefused(Bytes(good.begin(), good.end() - 1), "directory stream cut short");
  Bytes outside = good;
  Set32(outside, 8, static_cast<uint32_t>(good.size() + 1));
  ExpectRefused(outside, "directory offset past the end");
  Bytes low = good;
  Set32(low, 8, 4);
  ExpectRefused(low, "directory offset inside the header");
  Bytes more = good;
  Set32(more, 12, 3);
  ExpectRefused(more, "directory decodes to fewer bytes than the count needs");
  Bytes fewer = good;
  Set32(fewer, 12, 1);
  ExpectRefused(fewer, "directory decodes to more bytes than the count needs");
  Bytes overflow = good;
  Set32(overflow, 12, 0x08000000);  // 32 * count wraps to 0 in 32 bits
  ExpectRefused(overflow, "entry count overflow");
  Set32(overflow, 12, 0xFFFFFFFF);
  ExpectRefused(overflow, "entry count overflow, largest");

  PackageOptions plainOptions;
  plainOptions.compressDirectory = false;
  Bytes plain = BuildLikeTheProgramsOwn(plainOptions).package;
  ExpectRefused(Bytes(plain.begin(), plain.end() - 1), "plain directory cut short");
}

// A directory that the package's remaining bytes cannot hold is refused from
// the header's figures alone, before a block of its size is asked for (which
// a 32-bit process could not get, and which would be wasted anyway).
TEST(PackageWriter, DirectoryLargerThanTheRestOfThePackageIsRefusedBeforeAllocating) {
  Bytes plain(48, 0);
  Set32(plain, 0, kPackageMagic);
  Set32(plain, 8, 16);
  Set32(plain, 12, 0x07FFFFFF);  // about 4 GiB of entries behind 32 bytes
  PackageProblem problem;
  EXPECT_EQ(OpenPackageBytes(plain.data(), 48, &problem), nullptr);
  EXPECT_EQ(problem.what, OpenDirectoryTruncated);

  // A compressed directory of a few dozen bytes cannot decode to 105 MB.
  Bytes compressed = BuildLikeTheProgramsOwn().package;
  Set32(compressed, 12, 3276800);
  problem = {};
  EXPECT_EQ(OpenPackageBytes(compressed.data(), static_cast<uint32_t>(compressed.size()), &problem),
            nullptr);
  EXPECT_EQ(problem.what, OpenDirectoryTruncated);
  EXPECT_EQ(problem.decodedBytes, 0u);  // nothing was decoded
  ExpectRefused(plain, "plain directory past the end");
  ExpectRefused(compressed, "compressed directory too short for its count");
}

// The densest stream the format allows (one literal, then longest matches
// at distance 1) comes within a few bytes of the expansion bound and never
// passes it; a directory coded that densely still opens.
TEST(PackageWriter, DirectoryAtTheFormatsLargestExpansionOpens) {
  for (uint32_t count : {1u, 9u, 1000u, 40000u}) {
    SCOPED_TRACE(count);
    StreamBuilder s;
    PutLiteral(s, 0);
    for (uint32_t left = count * kEntrySize - 1; left > 0;) {
      uint32_t length = left < kLongestMatch ? left : kLongestMatch;
      if (length < 3) {
        PutLiteral(s, 0);
        length = 1;
      } else {
        PutMatch(s, 1, length);
      }
      left -= length;
    }
    PutEnd(s);
    Bytes stream = Finish(s);
    Bytes package(kHeaderSize, 0);
    Set32(package, 0, kPackageMagic);
    Set32(package, 4, kHeaderFlagCompressedDirectory);
    Set32(package, 8, kHeaderSize);
    Set32(package, 12, count);
    package.insert(package.end(), stream.begin(), stream.end());
    EXPECT_LE(uint64_t{count} * kEntrySize, MaxDecodedBytes(stream.size()));
    if (count >= 1000) {
      EXPECT_GT(uint64_t{count} * kEntrySize, MaxDecodedBytes(stream.size()) * 97 / 100);
    }
    PackageProblem problem;
    UpdatePackage* opened =
        OpenPackageBytes(package.data(), static_cast<uint32_t>(package.size()), &problem);
    EXPECT_NE(opened, nullptr) << OpenProblemText(problem.what);
    FreeBlock(opened);
  }
}

// One entry of the size of the program's largest, compressed at level 1:
// a deterministic mix of literals, short and long repeats.
TEST(LargeEntry, Of139MBRoundTripsThroughAPackage) {
  constexpr size_t kSize = 139309060;
  Bytes data(kSize);
  uint32_t s = 2024;
  size_t at = 0;
  auto next = [&] { return (s = s * 1664525u + 1013904223u) >> 8; };
  while (at < kSize) {
    uint32_t r = next();
    size_t n = std::min<size_t>(kSize - at, 1 + (r & 63));
    if (at < 9000 || (r >> 6) % 3 == 0) {
      for (size_t i = 0; i < n; ++i) data[at + i] = static_cast<uint8_t>(next() % 40 + 'A');
    } else {
      size_t d = 1 + next() % 8800;
      for (size_t i = 0; i < n; ++i) data[at + i] = data[at + i - d];
    }
    at += n;
  }
  PackageOptions options;
  options.level = 1;
  Bytes package;
  std::string error;
  ASSERT_TRUE(BuildPackage({{"UPDATE.INI", 1, reinterpret_cast<const uint8_t*>("[x]\r\n"), 5},
                            {"GAME.DAT", 2, data.data(), data.size()}},
                           options, &package, &error))
      << error;
  UpdatePackage* p = OpenPackage(package.data(), static_cast<uint32_t>(package.size()));
  ASSERT_NE(p, nullptr);
  const PackageEntry& e = p->entries[1];
  EXPECT_EQ(e.flags, kEntryFlagCompressed);
  EXPECT_EQ(e.originalSize, kSize);
  EXPECT_LT(e.storedSize, kSize);
  uint32_t offset;
  ASSERT_TRUE(EntryDataInside(p, 1, static_cast<uint32_t>(package.size()), &offset));
  Bytes out(e.originalSize);
  DecodeCounts c{};
  ASSERT_EQ(DecompressStream(out.data(), out.size(), package.data() + offset, e.storedSize, &c),
            DecodeOk);
  EXPECT_EQ(c.written, kSize);
  EXPECT_EQ(c.consumed, e.storedSize);
  EXPECT_TRUE(out == data);
  std::printf("139,309,060 bytes -> %u bytes at level 1\n", e.storedSize);
  FreeBlock(p);
}

}  // namespace

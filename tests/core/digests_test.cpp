// The digests a made updater carries: the checksums against published
// values, fed whole and in pieces, and the start-up check against a table of
// damaged packages.
#include "package/package_digests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "package/block.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/test_files.h"
#include "tools/fa2/make_updater.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    text += two;
  }
  return text;
}

// The digest of data fed in pieces of the given sizes, in turn.
std::string Sha256Of(const std::string& data, size_t piece) {
  Sha256 hash;
  Sha256Begin(&hash);
  for (size_t at = 0; at < data.size(); at += piece)
    Sha256Add(&hash, data.data() + at, std::min(piece, data.size() - at));
  uint8_t digest[kSha256Size];
  Sha256End(&hash, digest);
  return Hex(digest, kSha256Size);
}

TEST(Checksums, PublishedValuesWholeAndInPieces) {
  struct Case {
    std::string data;
    const char* sha256;
    uint32_t crc;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 0},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", 0x352441C2},
      {"123456789", "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225", 0xCBF43926},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", 0x171A3F5F},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
       0xDC25BFBC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 20));
    for (bool portable : {true, false}) {
      Sha256UsePortableRounds(portable);
      for (size_t piece : {size_t{1}, size_t{55}, size_t{63}, size_t{64}, size_t{65}, size_t{1} << 20})
        EXPECT_EQ(Sha256Of(c.data, c.data.empty() ? 1 : piece), c.sha256) << piece << portable;
    }
    EXPECT_EQ(Crc32(0, c.data.data(), c.data.size()), c.crc);
    size_t half = c.data.size() / 3;
    EXPECT_EQ(Crc32(Crc32(0, c.data.data(), half), c.data.data() + half, c.data.size() - half), c.crc);
  }
}

// UPDATE.INI and A stored, B compressed, with a plain directory.
struct Made {
  Bytes package, record;
  uint32_t offsets[3];
};

Made Make() {
  Bytes script = {'[', 'U', 'P', 'D', 'A', 'T', 'E', ']', '\r', '\n'};
  Bytes a = sample::MatchRich(3000, 5), b = sample::MatchRich(20000, 7);
  Made m;
  PackageOptions options;
  options.compressDirectory = false;
  std::string error;
  EXPECT_TRUE(BuildPackage({{"UPDATE.INI", 0, script.data(), script.size()},
                            {"A", 0, a.data(), a.size()}, {"B", 0, b.data(), b.size()}},
                           options, &m.package, &error))
      << error;
  m.record = DigestRecord(m.package);
  UpdatePackage* opened = OpenPackage(m.package.data(), static_cast<uint32_t>(m.package.size()));
  EXPECT_NE(opened, nullptr);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(EntryDataOffset(opened, i, &m.offsets[i]));
  EXPECT_FALSE(opened->entries[0].flags & kEntryFlagCompressed);
  EXPECT_TRUE(opened->entries[2].flags & kEntryFlagCompressed);
  FreeBlock(opened);
  return m;
}

PackageEntry* EntryIn(Bytes& bytes, uint32_t index) {
  uint32_t directory;
  std::memcpy(&directory, bytes.data() + 8, 4);
  return reinterpret_cast<PackageEntry*>(bytes.data() + directory + index * kEntrySize);
}

PackageDamage Check(const Bytes& package, const Bytes& record) {
  PackageDigests digests;
  if (!ReadDigestRecord(record.data(), static_cast<uint32_t>(record.size()), &digests))
    return PackageDigestsForeign;
  return CheckWholePackage(package.data(), static_cast<uint32_t>(package.size()), digests);
}

// Damage of each kind a download or a disc can do, and sizes that make
// entries overlap: every one is found before anything is written. The
// structure is checked on its own too, with a checksum taken of the damaged
// bytes, as a package damaged before it was made into an updater would be.
TEST(PackageDigests, EveryDamagedPackageIsRefusedWhole) {
  struct Case {
    const char* what;
    std::function<void(Made&)> damage;
    PackageDamage found;
    PackageDamage structure;  // with the checksum of the damaged bytes
  } cases[] = {
      {"a byte of a stored entry flipped", [](Made& m) { m.package[m.offsets[1] + 100] ^= 1; },
       PackageChecksumDiffers, PackageWhole},
      {"a compressed entry's first literal flipped",
       [](Made& m) { m.package[m.offsets[2] + 4] ^= 0x40; }, PackageChecksumDiffers, PackageWhole},
      {"a byte of the script flipped", [](Made& m) { m.package[m.offsets[0]] ^= 0x20; },
       PackageChecksumDiffers, PackageWhole},
      {"16 bytes of a compressed entry zeroed",
       [](Made& m) { std::memset(&m.package[m.offsets[2] + 32], 0, 16); }, PackageChecksumDiffers,
       PackageWhole},
      {"a directory entry's time flipped", [](Made& m) { EntryIn(m.package, 1)->fileTimeLow ^= 1; },
       PackageChecksumDiffers, PackageWhole},
      {"a compressed entry's stored size raised by 16",
       [](Made& m) { EntryIn(m.package, 2)->storedSize += 16; }, PackageChecksumDiffers,
       PackageNotOpened},
      {"the first entry's stored size raised by 16, moving the rest",
       [](Made& m) { EntryIn(m.package, 0)->storedSize += 16; }, PackageChecksumDiffers,
       PackageNotOpened},
      {"a stored entry's original size lowered", [](Made& m) { EntryIn(m.package, 0)->originalSize -= 1; },
       PackageChecksumDiffers, PackageStoredSizesDiffer},
      {"cut short by a byte", [](Made& m) { m.package.pop_back(); }, PackageDigestsForeign,
       PackageDigestsForeign},
      {"the digests of another package",
       [](Made& m) {
         Bytes script = {'[', 'S', ']'}, other;
         std::string error;
         ASSERT_TRUE(BuildPackage({{"UPDATE.INI", 0, script.data(), script.size()}}, {}, &other, &error));
         m.record = DigestRecord(other);
       },
       PackageDigestsForeign, PackageDigestsForeign},
      {"the digest record cut short", [](Made& m) { m.record.pop_back(); }, PackageDigestsForeign,
       PackageDigestsForeign},
      {"the digest record of a later version", [](Made& m) { m.record[4] = 2; },
       PackageDigestsForeign, PackageDigestsForeign},
  };
  Made whole = Make();
  EXPECT_EQ(Check(whole.package, whole.record), PackageWhole);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Made m = Make();
    c.damage(m);
    EXPECT_EQ(Check(m.package, m.record), c.found);
    if (c.found == PackageChecksumDiffers) {
      uint32_t crc = Crc32(0, m.package.data(), m.package.size());
      std::memcpy(&m.record[16], &crc, 4);
      EXPECT_EQ(Check(m.package, m.record), c.structure);
    }
  }
}

// Each entry's digest is that of its decoded bytes, whether stored or
// compressed, so that the run can check what it writes.
TEST(PackageDigests, EntryDigestsAreThoseOfTheDecodedBytes) {
  Made m = Make();
  UpdatePackage* opened = OpenPackage(m.package.data(), static_cast<uint32_t>(m.package.size()));
  ASSERT_NE(opened, nullptr);
  Bytes buffer(kEntryBufferSize);
  const Bytes expected[] = {{}, sample::MatchRich(3000, 5), sample::MatchRich(20000, 7)};
  for (uint32_t i = 1; i < 3; ++i) {
    uint8_t digest[kSha256Size];
    ASSERT_EQ(EntryDigest(opened, i, m.package.data(), static_cast<uint32_t>(m.package.size()),
                          buffer.data(), digest),
              EntryDataOk);
    std::string data(expected[i].begin(), expected[i].end());
    EXPECT_EQ(Hex(digest, kSha256Size), Sha256Of(data, 4096));
    EXPECT_EQ(Hex(&m.record[kDigestHeaderSize + i * kSha256Size], kSha256Size), Sha256Of(data, 4096));
  }
  FreeBlock(opened);
}

}  // namespace

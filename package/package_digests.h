// The digests a made updater carries beside its package, in a resource of
// their own (type "UPDATE", id 103), so that the package stays byte for
// byte what the publisher packed: the package's size, entry count and
// CRC-32, checked whole before the updater shows anything, and the SHA-256
// of every entry's decoded bytes, checked while the entry is written.
// Layout (little-endian): "FA2D", version 1, package size, entry count,
// CRC-32 of the package, a zero word, then entry count digests of 32 bytes
// in directory order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/sha256.h"
#include "package/entry_data.h"
#include "package/fa2_format.h"

constexpr uint32_t kDigestMagic = 0x44324146;  // "FA2D"
constexpr uint32_t kDigestVersion = 1;
constexpr uint32_t kDigestHeaderSize = 24;

struct PackageDigests {
  uint32_t packageSize;
  uint32_t entryCount;
  uint32_t packageCrc;
  const uint8_t* entryDigests;  // entryCount * kSha256Size bytes, inside the record
};

// The record's size for a package of entryCount entries; 0 when it would
// pass 32 bits.
uint32_t DigestRecordSize(uint32_t entryCount);

// Reads a record of size bytes; false unless it is one, whole, of this
// version, and exactly as long as its entry count makes it.
bool ReadDigestRecord(const uint8_t* bytes, uint32_t size, PackageDigests* digests);

// Writes the record's header into out (kDigestHeaderSize bytes); the
// digests follow it, written by the caller.
void WriteDigestHeader(uint8_t* out, uint32_t packageSize, uint32_t entryCount, uint32_t crc);

// Why a package and its digests do not agree.
enum PackageDamage {
  PackageWhole = 0,
  PackageDigestsForeign,    // the record's size or entry count is not the package's
  PackageChecksumDiffers,   // the bytes are not the ones that were packed
  PackageNotOpened,         // the header or directory does not hold together
  PackageStoredSizesDiffer, // a stored entry whose two sizes differ
};

// The start-up check of a package of size bytes against its digests: the
// record's figures, the CRC of every byte, then the structure (it opens:
// entries inside the data area before the directory, in directory order;
// a stored entry's two sizes equal). A compressed entry's stream is
// decoded and checked against its digest as it is written.
PackageDamage CheckWholePackage(const uint8_t* bytes, uint32_t size, const PackageDigests& digests);

// The SHA-256 of entry index's decoded bytes, read through buffer
// (kEntryBufferSize bytes). Anything but EntryDataOk leaves digest unset.
EntryDataResult EntryDigest(const UpdatePackage* package, uint32_t index, const uint8_t* bytes,
                            uint32_t size, uint8_t* buffer, uint8_t (&digest)[kSha256Size]);

#include "package/package_digests.h"

#include "base/crc32.h"
#include "base/little_endian.h"
#include "package/block.h"
#include "package/open_package.h"

uint32_t DigestRecordSize(uint32_t entryCount) {
  uint64_t size = kDigestHeaderSize + uint64_t{entryCount} * kSha256Size;
  return size > UINT32_MAX ? 0 : static_cast<uint32_t>(size);
}

bool ReadDigestRecord(const uint8_t* bytes, uint32_t size, PackageDigests* digests) {
  if (!bytes || size < kDigestHeaderSize) return false;
  if (Get32(bytes) != kDigestMagic || Get32(bytes + 4) != kDigestVersion || Get32(bytes + 20) != 0)
    return false;
  digests->packageSize = Get32(bytes + 8);
  digests->entryCount = Get32(bytes + 12);
  digests->packageCrc = Get32(bytes + 16);
  digests->entryDigests = bytes + kDigestHeaderSize;
  return DigestRecordSize(digests->entryCount) == size;
}

void WriteDigestHeader(uint8_t* out, uint32_t packageSize, uint32_t entryCount, uint32_t crc) {
  Put32(out, kDigestMagic);
  Put32(out + 4, kDigestVersion);
  Put32(out + 8, packageSize);
  Put32(out + 12, entryCount);
  Put32(out + 16, crc);
  Put32(out + 20, 0);
}

PackageDamage CheckWholePackage(const uint8_t* bytes, uint32_t size, const PackageDigests& digests) {
  if (digests.packageSize != size) return PackageDigestsForeign;
  if (Crc32(0, bytes, size) != digests.packageCrc) return PackageChecksumDiffers;
  UpdatePackage* package = OpenPackageBytes(bytes, size, nullptr);
  if (!package) return PackageNotOpened;
  PackageDamage damage = package->header.entryCount == digests.entryCount ? PackageWhole
                                                                          : PackageDigestsForeign;
  for (uint32_t i = 0; i < package->header.entryCount && damage == PackageWhole; ++i) {
    const PackageEntry& entry = package->entries[i];
    if (!(entry.flags & kEntryFlagCompressed) && entry.storedSize != entry.originalSize)
      damage = PackageStoredSizesDiffer;
  }
  FreeBlock(package);
  return damage;
}

EntryDataResult EntryDigest(const UpdatePackage* package, uint32_t index, const uint8_t* bytes,
                            uint32_t size, uint8_t* buffer, uint8_t (&digest)[kSha256Size]) {
  EntryReader reader;
  EntryDataResult result = OpenEntryData(package, index, bytes, size, &reader);
  Sha256 hash;
  Sha256Begin(&hash);
  while (result == EntryDataOk && !reader.finished) {
    const uint8_t* piece;
    size_t length;
    result = ReadEntryPiece(&reader, buffer, &piece, &length);
    if (result == EntryDataOk) Sha256Add(&hash, piece, length);
  }
  if (result == EntryDataOk) Sha256End(&hash, digest);
  return result;
}

// libFuzzer target: opening a package held in memory (OpenPackageBytes) on
// any bytes. It reads nothing outside the package (an exact-size copy); a
// block it returns is the header followed by entryCount whole entries, its
// directory lies inside the package, and every entry that EntryDataInside
// accepts lies inside the package where EntryDataOffset puts it, so that its
// stream can be decoded from the package's bytes alone.
#include <cstdint>

#include "package/block.h"
#include "package/decompress.h"
#include "package/open_package.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  ExactBlock package(data, size);
  const uint32_t packageSize = static_cast<uint32_t>(size);
  PackageProblem problem;
  UpdatePackage* opened = OpenPackageBytes(package.data, packageSize, &problem);
  if (!opened) {
    FUZZ_CHECK(problem.what != OpenOk);
    return 0;
  }
  FUZZ_CHECK(problem.what == OpenOk);
  FUZZ_CHECK(size >= kHeaderSize && std::memcmp(opened, package.data, kHeaderSize) == 0);
  const PackageHeader& header = opened->header;
  FUZZ_CHECK(header.magic == kPackageMagic);
  FUZZ_CHECK(header.directoryOffset >= kHeaderSize && header.directoryOffset <= packageSize);
  const uint64_t directoryBytes = uint64_t{header.entryCount} * kEntrySize;
  if (!(header.flags & kHeaderFlagCompressedDirectory)) {
    FUZZ_CHECK(header.directoryOffset + directoryBytes <= packageSize);
    FUZZ_CHECK(SameBytes(opened->entries, package.data + header.directoryOffset,
                         static_cast<size_t>(directoryBytes)));
  }

  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const PackageEntry entry = opened->entries[i];  // the whole block is readable
    uint32_t offset = 0, inside = 0;
    const bool hasOffset = EntryDataOffset(opened, i, &offset);
    if (!EntryDataInside(opened, i, packageSize, &inside)) continue;
    FUZZ_CHECK(hasOffset && inside == offset);
    FUZZ_CHECK(uint64_t{inside} + entry.storedSize <= packageSize);
    FUZZ_CHECK(inside >= kHeaderSize);
    if ((entry.flags & kEntryFlagCompressed) && entry.originalSize <= (1u << 20)) {
      ExactBlock out(nullptr, entry.originalSize);
      DecodeCounts counts{};
      DecompressStream(out.data, out.size, package.data + inside, entry.storedSize, &counts);
      FUZZ_CHECK(counts.written <= entry.originalSize && counts.consumed <= entry.storedSize);
    }
  }
  FreeBlock(opened);
  return 0;
}

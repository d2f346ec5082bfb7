// libFuzzer target: opening a package held in memory (OpenPackageBytes) on
// any bytes. It reads nothing outside the package (an exact-size copy); a
// block it returns is the header followed by entryCount whole entries, its
// directory lies inside the package, and it never has an entry whose data
// lies outside the package: every entry's data lies inside where
// EntryDataOffset puts it, so that it can be read from the package's bytes
// alone, which the entry reader then does for the smaller entries.
#include <cstdint>

#include "package/block.h"
#include "package/decompress.h"
#include "package/entry_data.h"
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
  static ExactBlock buffer(nullptr, kEntryBufferSize);  // the readers' working buffer
  const uint64_t directoryBytes = uint64_t{header.entryCount} * kEntrySize;
  if (!(header.flags & kHeaderFlagCompressedDirectory)) {
    FUZZ_CHECK(header.directoryOffset + directoryBytes <= packageSize);
    FUZZ_CHECK(SameBytes(opened->entries, package.data + header.directoryOffset,
                         static_cast<size_t>(directoryBytes)));
  }

  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const PackageEntry entry = opened->entries[i];  // the whole block is readable
    uint32_t offset = 0, inside = 0;
    FUZZ_CHECK(EntryDataOffset(opened, i, &offset));
    FUZZ_CHECK(EntryDataInside(opened, i, packageSize, &inside));
    FUZZ_CHECK(inside == offset);
    FUZZ_CHECK(uint64_t{inside} + entry.storedSize <= packageSize);
    FUZZ_CHECK(inside >= kHeaderSize);
    if (entry.originalSize <= (1u << 20) && i < 64) {
      EntryReader reader;
      EntryDataResult result =
          CheckEntryData(opened, i, package.data, packageSize, buffer.data, &reader);
      FUZZ_CHECK(result != EntryDataOutside);
      if (reader.compressed)
        FUZZ_CHECK(reader.decode.written <= entry.originalSize &&
                   reader.decode.consumed <= entry.storedSize);
      FUZZ_CHECK((result == EntryDataOk) == reader.finished);
    }
  }
  FreeBlock(opened);
  return 0;
}

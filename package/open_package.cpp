#include "package/open_package.h"

#include <cstdio>
#include <cstring>

#include "package/block.h"
#include "package/decompress.h"
#include "package/entry_name.h"

namespace {

// File positions up to 4 GiB need 64 bits; long is 32 bits on Windows.
int SeekTo(std::FILE* file, long long offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence);
#else
  return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}
long long TellPosition(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

// Checks the header's figures against a package of packageSize bytes: the
// magic, the directory's place, and that a directory of entryCount entries
// can come from the bytes between its offset and the end (a compressed one
// decodes to at most MaxDecodedBytes of them). Both forms run this before
// they take any block, so a hostile count cannot ask for gigabytes.
OpenProblem CheckHeader(const PackageHeader& header, uint64_t packageSize,
                        uint32_t* directoryBytes) {
  if (header.magic != kPackageMagic) return OpenNotPackage;
  if (header.directoryOffset < kHeaderSize || header.directoryOffset > packageSize)
    return OpenDirectoryOutside;
  // entryCount * 32 + 16 must be computable in 32 bits.
  if (header.entryCount > (UINT32_MAX - kHeaderSize) / kEntrySize) return OpenTooManyEntries;
  *directoryBytes = header.entryCount * kEntrySize;
  uint64_t rest = packageSize - header.directoryOffset;
  bool compressed = header.flags & kHeaderFlagCompressedDirectory;
  if (*directoryBytes > (compressed ? MaxDecodedBytes(rest) : rest)) return OpenDirectoryTruncated;
  return OpenOk;
}

// The first entry whose data (its padded place after the entries before it,
// then storedSize bytes) does not lie in the data area, between the header
// and the directory, or entryCount when all do. The entries follow one
// another in directory order, so none overlaps another; a stored size that
// grew runs into the directory, or reads every later entry off its place.
uint32_t FirstEntryOutside(const UpdatePackage* package) {
  const uint64_t dataEnd = package->header.directoryOffset;
  uint64_t at = kHeaderSize;
  for (uint32_t i = 0; i < package->header.entryCount; ++i) {
    const uint32_t stored = package->entries[i].storedSize;
    if (at > UINT32_MAX || at + stored > dataEnd) return i;
    at += PaddedSize64(stored);
  }
  return package->header.entryCount;
}

// The result block made from the directory's bytes: a copy of a plain
// directory, or the compressed stream decoded, which must give exactly
// directoryBytes, and whose every entry's data must lie inside the package.
UpdatePackage* MakeBlock(const PackageHeader& header, uint32_t directoryBytes,
                         const uint8_t* directory, uint32_t length, PackageProblem* problem) {
  auto* result = static_cast<UpdatePackage*>(AllocBlock(directoryBytes + kHeaderSize));
  if (!result) {
    problem->what = OpenNoMemory;
    return nullptr;
  }
  uint8_t* entries = reinterpret_cast<uint8_t*>(result) + kHeaderSize;
  if (header.flags & kHeaderFlagCompressedDirectory) {
    DecodeCounts counts{};
    DecodeResult r = DecompressStream(entries, directoryBytes, directory, length, &counts);
    problem->decode = r;
    problem->decodedBytes = counts.written;
    if (r != DecodeOk) problem->what = OpenDirectoryCorrupt;
    else if (counts.written != directoryBytes) problem->what = OpenDirectoryWrongSize;
  } else {
    std::memcpy(entries, directory, directoryBytes);
  }
  if (problem->what == OpenOk) {
    std::memcpy(result, &header, kHeaderSize);
    // Extraction reads entry data straight from the package, so a package
    // that points outside itself is refused here, before anything is written.
    problem->entry = FirstEntryOutside(result);
    if (problem->entry != header.entryCount) problem->what = OpenEntryOutside;
  }
  if (problem->what != OpenOk) {
    FreeBlock(result);
    return nullptr;
  }
  return result;
}

}  // namespace

UpdatePackage* OpenPackageBytes(const uint8_t* bytes, uint32_t size, PackageProblem* problem) {
  PackageProblem ignored;
  if (!problem) problem = &ignored;
  *problem = PackageProblem{};
  if (size < kHeaderSize) {
    // A file that begins like a package but stops early is cut short, not foreign.
    const uint8_t magic[4] = {'F', 'A', '2', 0};
    bool begins = size > 0 && std::memcmp(bytes, magic, size < 4 ? size : 4) == 0;
    problem->what = begins ? OpenShortHeader : OpenNotPackage;
    return nullptr;
  }
  PackageHeader header;
  std::memcpy(&header, bytes, kHeaderSize);
  uint32_t directoryBytes = 0;
  problem->what = CheckHeader(header, size, &directoryBytes);
  if (problem->what != OpenOk) return nullptr;
  // The directory is read in place: a compressed one runs to the package's end.
  return MakeBlock(header, directoryBytes, bytes + header.directoryOffset,
                   size - header.directoryOffset, problem);
}

namespace {

UpdatePackage* OpenFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return nullptr;
  UpdatePackage* result = nullptr;
  uint8_t* directory = nullptr;
  PackageHeader header;
  uint32_t directoryBytes = 0, length = 0;
  long long fileSize = -1;
  PackageProblem problem;

  if (std::fread(&header, 1, kHeaderSize, file) != kHeaderSize) goto done;
  if (SeekTo(file, 0, SEEK_END) != 0) goto done;
  fileSize = TellPosition(file);
  // A package is smaller than 4 GiB.
  if (fileSize < 0 || fileSize > static_cast<long long>(UINT32_MAX)) goto done;
  if (CheckHeader(header, static_cast<uint64_t>(fileSize), &directoryBytes) != OpenOk) goto done;
  // Only the directory's bytes are read: a compressed directory runs to the end.
  length = header.flags & kHeaderFlagCompressedDirectory
               ? static_cast<uint32_t>(fileSize) - header.directoryOffset
               : directoryBytes;
  if (SeekTo(file, header.directoryOffset, SEEK_SET) != 0) goto done;
  directory = static_cast<uint8_t*>(AllocBlock(length));
  if (!directory || std::fread(directory, 1, length, file) != length) goto done;
  result = MakeBlock(header, directoryBytes, directory, length, &problem);

done:
  FreeBlock(directory);
  std::fclose(file);
  return result;
}

}  // namespace

UpdatePackage* OpenPackage(const void* source, uint32_t size) {
  if (!source) return nullptr;
  if (size == 0) return OpenFile(static_cast<const char*>(source));
  return OpenPackageBytes(static_cast<const uint8_t*>(source), size, nullptr);
}

const char* OpenProblemText(OpenProblem problem) {
  switch (problem) {
    case OpenOk: return "ok";
    case OpenNotPackage: return "not an FA2 package";
    case OpenShortHeader: return "truncated: shorter than the 16-byte header";
    case OpenDirectoryOutside: return "directory offset outside the package";
    case OpenTooManyEntries: return "entry count too large";
    case OpenDirectoryTruncated: return "truncated: the directory does not fit in the rest of the package";
    case OpenDirectoryCorrupt: return "compressed directory is corrupt";
    case OpenDirectoryWrongSize: return "compressed directory does not decode to its entry count";
    case OpenEntryOutside: return "an entry's data lies outside the data area (past the directory or the end)";
    case OpenNoMemory: return "out of memory";
  }
  return "cannot open package";
}

bool EntryDataOffset(const UpdatePackage* package, uint32_t index, uint32_t* offset) {
  uint64_t at = kHeaderSize;
  for (uint32_t i = 0; i < index && i < package->header.entryCount; ++i)
    at += PaddedSize64(package->entries[i].storedSize);
  if (at > UINT32_MAX) return false;
  *offset = static_cast<uint32_t>(at);
  return true;
}

bool EntryDataInside(const UpdatePackage* package, uint32_t index, uint32_t packageSize,
                     uint32_t* offset) {
  if (index >= package->header.entryCount) return false;
  uint32_t at;
  if (!EntryDataOffset(package, index, &at)) return false;
  if (static_cast<uint64_t>(at) + package->entries[index].storedSize > packageSize) return false;
  *offset = at;
  return true;
}

void EntryNameText(const PackageEntry& entry, char (&name)[kEntryNameField + 1]) {
  std::memcpy(name, entry.name, kEntryNameField);
  name[kEntryNameField] = '\0';
}

bool FindEntry(const UpdatePackage* package, const char* name, uint32_t* index) {
  for (uint32_t i = 0; package && i < package->header.entryCount; ++i) {
    char entryName[kEntryNameField + 1];
    EntryNameText(package->entries[i], entryName);
    if (SameEntryName(entryName, name)) {
      *index = i;
      return true;
    }
  }
  return false;
}

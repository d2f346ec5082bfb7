#include "package/open_package.h"

#include <cstdio>
#include <cstring>

#include "package/block.h"
#include "package/decompress.h"

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

// entryCount * 32 + 16 must be computable in 32 bits.
bool DirectoryBytes(uint32_t entryCount, uint32_t* bytes) {
  if (entryCount > (UINT32_MAX - kHeaderSize) / kEntrySize) return false;
  *bytes = entryCount * kEntrySize;
  return true;
}

// Decodes a compressed directory into the result block; the stream must give
// exactly the expected number of bytes.
bool DecodeDirectory(UpdatePackage* result, uint32_t directoryBytes, const uint8_t* stream,
                     uint32_t streamLength, PackageProblem* problem) {
  DecodeCounts counts{};
  uint8_t* entries = reinterpret_cast<uint8_t*>(result) + kHeaderSize;
  DecodeResult r = DecompressStream(entries, directoryBytes, stream, streamLength, &counts);
  problem->decode = r;
  problem->decodedBytes = counts.written;
  if (r != DecodeOk) problem->what = OpenDirectoryCorrupt;
  else if (counts.written != directoryBytes) problem->what = OpenDirectoryWrongSize;
  return problem->what == OpenOk;
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
  uint32_t directoryBytes;
  if (header.magic != kPackageMagic) problem->what = OpenNotPackage;
  else if (header.directoryOffset < kHeaderSize || header.directoryOffset > size)
    problem->what = OpenDirectoryOutside;
  else if (!DirectoryBytes(header.entryCount, &directoryBytes))
    problem->what = OpenTooManyEntries;
  if (problem->what != OpenOk) return nullptr;

  auto* result = static_cast<UpdatePackage*>(AllocBlock(directoryBytes + kHeaderSize));
  if (!result) {
    problem->what = OpenNoMemory;
    return nullptr;
  }
  if (header.flags & kHeaderFlagCompressedDirectory) {
    // The compressed directory runs from its offset to the package's end;
    // it is decoded in place, no copy of the stream is needed.
    DecodeDirectory(result, directoryBytes, bytes + header.directoryOffset,
                    size - header.directoryOffset, problem);
  } else if (directoryBytes > size - header.directoryOffset) {
    problem->what = OpenDirectoryTruncated;
  } else {
    std::memcpy(reinterpret_cast<uint8_t*>(result) + kHeaderSize,
                bytes + header.directoryOffset, directoryBytes);
  }
  if (problem->what != OpenOk) {
    FreeBlock(result);
    return nullptr;
  }
  std::memcpy(result, &header, kHeaderSize);
  return result;
}

namespace {

UpdatePackage* OpenFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return nullptr;
  UpdatePackage* result = nullptr;
  uint8_t* stream = nullptr;
  bool ok = false;
  PackageHeader header;
  uint32_t directoryBytes = 0;
  long long fileSize = -1;

  if (std::fread(&header, 1, kHeaderSize, file) != kHeaderSize) goto done;
  if (header.magic != kPackageMagic || !DirectoryBytes(header.entryCount, &directoryBytes))
    goto done;
  if (SeekTo(file, 0, SEEK_END) != 0) goto done;
  fileSize = TellPosition(file);
  // A package is smaller than 4 GiB; the directory must lie inside the file.
  if (fileSize < 0 || fileSize > static_cast<long long>(UINT32_MAX)) goto done;
  if (header.directoryOffset < kHeaderSize || header.directoryOffset > fileSize) goto done;
  if (SeekTo(file, header.directoryOffset, SEEK_SET) != 0) goto done;

  result = static_cast<UpdatePackage*>(AllocBlock(directoryBytes + kHeaderSize));
  if (!result) goto done;
  if (header.flags & kHeaderFlagCompressedDirectory) {
    uint32_t streamLength = static_cast<uint32_t>(fileSize) - header.directoryOffset;
    stream = static_cast<uint8_t*>(AllocBlock(streamLength));
    if (!stream) goto done;
    if (std::fread(stream, 1, streamLength, file) != streamLength) goto done;
    PackageProblem problem;
    ok = DecodeDirectory(result, directoryBytes, stream, streamLength, &problem);
  } else {
    ok = std::fread(reinterpret_cast<uint8_t*>(result) + kHeaderSize, 1, directoryBytes,
                    file) == directoryBytes;
  }
  if (ok) std::memcpy(result, &header, kHeaderSize);

done:
  FreeBlock(stream);
  std::fclose(file);
  if (!ok) {
    FreeBlock(result);
    return nullptr;
  }
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
    case OpenDirectoryTruncated: return "truncated: directory passes the end of the package";
    case OpenDirectoryCorrupt: return "compressed directory is corrupt";
    case OpenDirectoryWrongSize: return "compressed directory does not decode to its entry count";
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

// Building a whole FA2 package in memory: header, the entries' data (each on
// a 16-byte boundary, zero padding), then the directory, last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/compress.h"
#include "package/entry_name.h"  // the names BuildPackage takes

struct PackageInput {
  std::string name;        // code page 932 file name without folder, 1 to 14 bytes
  uint64_t fileTime;       // FILETIME: 100 ns units since 1601-01-01 UTC
  const uint8_t* data;     // not owned; must live until BuildPackage returns
  size_t size;
};

struct PackageOptions {
  bool store = false;               // entries uncompressed
  int level = kCompressDefaultLevel;
  bool compressDirectory = true;    // one stream running to the package's last byte
};

// Appends the package to out (which should be empty). A compressed entry
// whose stream would not be smaller than the data is stored instead.
// Returns false with a one-line reason in error when an input cannot be
// packed (bad name, sizes past the format's 32 bits); out is then cleared.
bool BuildPackage(const std::vector<PackageInput>& inputs, const PackageOptions& options,
                  std::vector<uint8_t>* out, std::string* error);

// FILETIME <-> Unix time (seconds since 1970-01-01 UTC plus nanoseconds).
// Unix times before 1601 give 0, those after the last FILETIME (in the year
// 60056) give the last. Every FILETIME has a Unix time.
uint64_t UnixToFileTime(int64_t seconds, uint32_t nanoseconds = 0);
int64_t FileTimeToUnix(uint64_t fileTime, uint32_t* nanoseconds = nullptr);

// Reading and writing whole files for the fa2 tool: one reader, and one way
// to write an output, through a temporary beside it that is renamed over it
// once whole, so that a failure never leaves a partly written file and an
// existing file stays as it was. Failures go through Fail (tool_errors.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The whole file. Fails when it cannot be read, is a folder, or is 4 GiB or
// larger: an FA2 package counts in 32 bits, and so does everything that goes
// into an updater.
Bytes ReadWholeFile(const std::string& path);

// An output file on its way: bytes go to temp, which replaces path in
// FinishOutput. Destroyed before that, it removes temp.
struct OutputFile {
  std::string path, temp;
  std::FILE* file = nullptr;
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Abandon(); }
  void Abandon();
};

void BeginOutput(const std::string& path, OutputFile* out);
void WriteOutput(OutputFile* out, const uint8_t* data, size_t size);

// What the finished file gets besides its bytes.
struct OutputFinish {
  const uint64_t* fileTime = nullptr;  // its modification time (FILETIME), when given
  bool executable = false;             // on POSIX hosts: may be run
};

// Closes the temporary, gives it what finish asks for and renames it over
// path. A time the file system cannot hold is replaced by the nearest it
// can, with a warning.
void FinishOutput(OutputFile* out, const OutputFinish& finish = {});

// data as the whole of path, through a temporary.
void WriteWholeFile(const std::string& path, const Bytes& data, const OutputFinish& finish = {});

// "YYYY-MM-DDTHH:MM:SSZ" of a FILETIME, by the civil calendar.
std::string IsoTime(uint64_t fileTime);

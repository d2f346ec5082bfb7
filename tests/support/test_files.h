// Small file helpers for tests: whole-file reads and writes and a fresh
// scratch folder per test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

bool WriteWholeFile(const std::string& path, const Bytes& data);
bool WriteWholeFile(const std::string& path, const std::string& text);
Bytes ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// A new empty folder under the system's temporary folder, named after the
// running test; its path ends without a separator.
std::string MakeScratchFolder(const std::string& tag);

// The smallest executable image the resource writer accepts, made byte by
// byte: headers, an empty resource section and a relocation section behind
// it, as the linker lays out the updater stub. For tests and the fuzzer's
// seeds; it is never run.
#pragma once

#include <cstdint>
#include <vector>

// Where the fields that tests change lie in the image.
struct TinyPeLayout {
  uint32_t optionalHeader, directories, sectionTable;
};

std::vector<uint8_t> TinyPe(bool is64, TinyPeLayout* layout = nullptr);

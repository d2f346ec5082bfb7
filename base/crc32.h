// CRC-32 (the polynomial of zip and PNG), fed in pieces: the quick check of
// a whole package that an updater makes before it shows anything.
#pragma once

#include <cstddef>
#include <cstdint>

// crc is 0 before the first piece; the result goes into the next call.
uint32_t Crc32(uint32_t crc, const void* data, size_t length);

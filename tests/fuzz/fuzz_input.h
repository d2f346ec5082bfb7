// Helpers of the libFuzzer targets: exact-size heap copies, so that
// AddressSanitizer reports a read or write one byte past a buffer, and a
// failed property that stops the fuzzer with the reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A block of exactly size bytes (size 0 gives a 1-byte block that is never
// read), holding a copy of bytes when they are given.
struct ExactBlock {
  uint8_t* data;
  size_t size;
  ExactBlock(const uint8_t* bytes, size_t n) : data(static_cast<uint8_t*>(std::malloc(n ? n : 1))), size(n) {
    if (bytes && n) std::memcpy(data, bytes, n);
  }
  ~ExactBlock() { std::free(data); }
  ExactBlock(const ExactBlock&) = delete;
  ExactBlock& operator=(const ExactBlock&) = delete;
};

// memcmp that accepts no bytes at a null pointer (an empty vector's data).
inline bool SameBytes(const void* a, const void* b, size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}

#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

// SHA-256 (FIPS 180-4), fed in pieces of any size: the digests that tie an
// updater's entries to the bytes the publisher packed.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSha256Size = 32;

struct Sha256 {
  uint32_t state[8];
  uint64_t length;    // bytes fed so far
  uint8_t block[64];  // the bytes of a block not yet full
};

void Sha256Begin(Sha256* hash);
void Sha256Add(Sha256* hash, const void* data, size_t length);
void Sha256End(Sha256* hash, uint8_t (&digest)[kSha256Size]);

// The rounds run on the processor's SHA extensions where it has them, else
// portably; true keeps to the portable ones (the tests check both).
void Sha256UsePortableRounds(bool portable);

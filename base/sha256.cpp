#include "base/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define FA2_SHA_EXTENSIONS 1
#endif

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(uint32_t (&state)[8], const uint8_t* block) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
           uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                  kRound[i] + w[i];
    uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void CompressPortable(uint32_t (&state)[8], const uint8_t* blocks, size_t count) {
  for (; count; --count, blocks += 64) Compress(state, blocks);
}

#ifdef FA2_SHA_EXTENSIONS
// The processor's SHA extensions (AMD since Zen, Intel since Goldmont and Ice
// Lake): some five times the portable rounds, which matters because every
// byte an update writes is hashed. The state is kept as the instructions
// want it, ABEF and CDGH, for a run of blocks.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressWithExtensions(uint32_t (&state)[8],
                                                                       const uint8_t* blocks,
                                                                       size_t count) {
  const __m128i order = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  t = _mm_shuffle_epi32(t, 0xB1);                  // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1B);        // EFGH
  __m128i state0 = _mm_alignr_epi8(t, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, t, 0xF0);       // CDGH
  for (; count; --count, blocks += 64) {
    __m128i savedAbef = state0, savedCdgh = state1;
    __m128i w[4];
    // Sixteen groups of four rounds; from the fourth on, the message
    // schedule for later groups is made alongside.
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g < 4)
        w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)),
                                order);
      __m128i message =
          _mm_add_epi32(w[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, message);
      if (g >= 3 && g <= 14) {
        __m128i next = _mm_add_epi32(w[(g + 1) % 4], _mm_alignr_epi8(w[g % 4], w[(g + 3) % 4], 4));
        w[(g + 1) % 4] = _mm_sha256msg2_epu32(next, w[g % 4]);
      }
      state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(message, 0x0E));
      if (g >= 1 && g <= 12) w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], w[g % 4]);
    }
    state0 = _mm_add_epi32(state0, savedAbef);
    state1 = _mm_add_epi32(state1, savedCdgh);
  }
  t = _mm_shuffle_epi32(state0, 0x1B);              // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);         // DCHG
  state0 = _mm_blend_epi16(t, state1, 0xF0);        // DCBA
  state1 = _mm_alignr_epi8(state1, t, 8);           // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

bool HasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  bool sse = (c & bit_SSSE3) && (c & bit_SSE4_1);
  return sse && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29));
}
#endif

using CompressBlocks = void (*)(uint32_t (&)[8], const uint8_t*, size_t);
CompressBlocks compressBlocks = nullptr;  // chosen at the first digest
bool portableOnly = false;

CompressBlocks Blocks() {
  if (!compressBlocks) {
    compressBlocks = CompressPortable;
#ifdef FA2_SHA_EXTENSIONS
    if (!portableOnly && HasShaExtensions()) compressBlocks = CompressWithExtensions;
#endif
  }
  return compressBlocks;
}

}  // namespace

void Sha256UsePortableRounds(bool portable) {
  portableOnly = portable;
  compressBlocks = nullptr;
}

void Sha256Begin(Sha256* hash) {
  static constexpr uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(hash->state, kStart, sizeof kStart);
  hash->length = 0;
}

void Sha256Add(Sha256* hash, const void* data, size_t length) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_t held = static_cast<size_t>(hash->length % 64);
  hash->length += length;
  if (held) {
    size_t take = length < 64 - held ? length : 64 - held;
    std::memcpy(hash->block + held, bytes, take);
    bytes += take;
    length -= take;
    if (held + take < 64) return;
    Blocks()(hash->state, hash->block, 1);
  }
  if (length >= 64) {
    Blocks()(hash->state, bytes, length / 64);
    bytes += length / 64 * 64;
    length %= 64;
  }
  if (length) std::memcpy(hash->block, bytes, length);
}

void Sha256End(Sha256* hash, uint8_t (&digest)[kSha256Size]) {
  uint64_t bits = hash->length * 8;
  size_t held = static_cast<size_t>(hash->length % 64);
  hash->block[held++] = 0x80;
  if (held > 56) {
    std::memset(hash->block + held, 0, 64 - held);
    Blocks()(hash->state, hash->block, 1);
    held = 0;
  }
  std::memset(hash->block + held, 0, 56 - held);
  for (int i = 0; i < 8; ++i) hash->block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Blocks()(hash->state, hash->block, 1);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(hash->state[i] >> (24 - 8 * j));
}

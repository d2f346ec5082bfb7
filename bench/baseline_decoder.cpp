// The stream decoder as it was before the fast path (one control bit at a
// time, every check on every bit), kept so that the benchmark can measure the
// new decoder against it in the same run.
#include "bench/baseline_decoder.h"

#include <cstring>

namespace {

// Every check on untrusted data goes through this macro, so the guarded lines
// are easy to see.
#define SAFETY_CHECK(condition, failure) \
  do {                                   \
    if (!(condition)) {                  \
      result = (failure);                \
      goto done;                         \
    }                                    \
  } while (0)

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // little-endian host (see fa2_format.h)
}

}  // namespace

DecodeResult BaselineDecompressStream(uint8_t* destination, size_t capacity,
                              const uint8_t* source, size_t sourceLength,
                              DecodeCounts* counts) {
  const uint8_t* in = source;
  const uint8_t* const inEnd = source + sourceLength;
  uint8_t* out = destination;
  uint8_t* const outEnd = destination + capacity;
  DecodeResult result = DecodeOk;

  uint32_t word = 0;
  int bitsLeft = 0;
  uint32_t bit = 0;

  // A new control word is fetched only when a bit is asked for and the
  // current one is used up; it lies after every data byte read so far.
#define NEXT_BIT()                                              \
  do {                                                          \
    if (bitsLeft == 0) {                                        \
      SAFETY_CHECK(inEnd - in >= 4, DecodeTruncated);           \
      word = Load32(in);                                        \
      in += 4;                                                  \
      bitsLeft = 32;                                            \
    }                                                           \
    bit = word >> 31;                                           \
    word <<= 1;                                                 \
    --bitsLeft;                                                 \
  } while (0)
#define NEXT_BITS(k, value)                                     \
  do {                                                          \
    for (int i_ = 0; i_ < (k); ++i_) {                          \
      NEXT_BIT();                                               \
      (value) = (value) * 2 + bit;                              \
    }                                                           \
  } while (0)
#define NEXT_BYTE(value)                                        \
  do {                                                          \
    SAFETY_CHECK(in < inEnd, DecodeTruncated);                  \
    (value) = *in++;                                            \
  } while (0)

  // The first word is loaded before the first code is read.
  SAFETY_CHECK(sourceLength >= 4, DecodeTruncated);
  word = Load32(in);
  in += 4;
  bitsLeft = 32;

  for (;;) {
    uint32_t distance, length, y;
    NEXT_BIT();
    if (bit) {  // 1 Y: literal, the most frequent code
      NEXT_BYTE(y);
      SAFETY_CHECK(out < outEnd, DecodeOutputFull);
      *out++ = static_cast<uint8_t>(y);
      continue;
    }
    NEXT_BIT();
    if (bit) {  // 01: two-byte match
      NEXT_BIT();
      NEXT_BYTE(y);
      if (!bit) {
        distance = y + 1;
      } else {
        uint32_t n = y;
        NEXT_BITS(3, n);
        if (n == 2047) break;  // the end code
        distance = n + 257;
      }
      SAFETY_CHECK(distance <= static_cast<size_t>(out - destination), DecodeBadDistance);
      SAFETY_CHECK(outEnd - out >= 2, DecodeOutputFull);
      out[0] = out[0 - static_cast<ptrdiff_t>(distance)];
      out[1] = out[1 - static_cast<ptrdiff_t>(distance)];
      out += 2;
      continue;
    }

    // 00: general match. The distance class prefix 1, 01, 001, 0001, 0000
    // chooses how many low bits follow the byte; classes above the first
    // carry an implicit leading one.
    {
      uint32_t v;
      int lowBits;
      uint32_t base;
      NEXT_BIT();
      if (bit) {
        lowBits = 1, base = 0;
      } else {
        NEXT_BIT();
        if (bit) {
          lowBits = 1, base = 512;
        } else {
          NEXT_BIT();
          if (bit) {
            lowBits = 2, base = 1024;
          } else {
            NEXT_BIT();
            if (bit) lowBits = 3, base = 2048;
            else lowBits = 4, base = 4096;
          }
        }
      }
      NEXT_BYTE(v);
      NEXT_BITS(lowBits, v);
      distance = base + v + 1;
    }
    NEXT_BIT();
    if (bit) {
      length = 3;
    } else {
      NEXT_BIT();
      if (bit) {
        length = 4;
      } else {
        NEXT_BIT();
        if (bit) {
          length = 0;
          NEXT_BITS(1, length);
          length += 5;
        } else {
          NEXT_BIT();
          if (bit) {
            length = 0;
            NEXT_BITS(2, length);
            length += 7;
          } else {
            NEXT_BIT();
            if (bit) {
              length = 0;
              NEXT_BITS(4, length);
              length += 11;
            } else {
              NEXT_BYTE(length);
              length += 27;
            }
          }
        }
      }
    }
    SAFETY_CHECK(distance <= static_cast<size_t>(out - destination), DecodeBadDistance);
    SAFETY_CHECK(static_cast<size_t>(outEnd - out) >= length, DecodeOutputFull);
    {
      const uint8_t* from = out - distance;
      uint8_t* const stop = out + length;
      if (distance >= 4) {
        // With the source at least 4 bytes behind, a 4-byte unit never reads
        // bytes that this unit itself writes: the result equals a byte copy.
        while (stop - out >= 4) {
          std::memcpy(out, from, 4);
          out += 4;
          from += 4;
        }
        while (out < stop) *out++ = *from++;
      } else if (distance == 1) {
        std::memset(out, from[0], length);
        out = stop;
      } else {
        // Distances 2 and 3 repeat the last two or three bytes.
        while (out < stop) *out++ = *from++;
      }
    }
  }

done:
  if (counts) {
    counts->written = static_cast<size_t>(out - destination);
    counts->consumed = static_cast<size_t>(in - source);
  }
  return result;
#undef NEXT_BIT
#undef NEXT_BITS
#undef NEXT_BYTE
}

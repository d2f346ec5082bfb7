#include "package/decompress.h"

#include <array>
#include <bit>
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

// ---- the code tables ----

constexpr uint32_t kLongestMatch = 282;
constexpr uint32_t kFarthestMatch = 8192;
static_assert(kFarthestMatch == kDecodeHistory);

// A general match opens with 00 and a distance class prefix 1, 01, 001, 0001
// or 0000: the six bits from the 00 on (the first of them always 0, so 32
// rows) give the class. The classes above the first carry an implicit
// leading one (the base).
struct DistanceClass {
  uint8_t codeBits;  // 00 plus the class prefix
  uint8_t lowBits;   // control bits below the distance byte
  uint16_t base;
};
constexpr int kDistanceHeadBits = 6;

constexpr std::array<DistanceClass, 16> MakeDistanceClasses() {
  std::array<DistanceClass, 16> t{};
  for (int i = 0; i < 16; ++i) {  // the four bits after 00
    if (i & 8) t[i] = {3, 1, 0};
    else if (i & 4) t[i] = {4, 1, 512};
    else if (i & 2) t[i] = {5, 2, 1024};
    else if (i & 1) t[i] = {6, 3, 2048};
    else t[i] = {6, 4, 4096};
  }
  return t;
}
constexpr std::array<DistanceClass, 16> kDistanceClasses = MakeDistanceClasses();
static_assert(kDistanceClasses[0].base + (255u << 4 | 15u) + 1 == kFarthestMatch);

// The length code, read after the distance's low bits: 1 -> 3, 01 -> 4,
// 001 t -> 5+t, 0001 tt -> 7+t, 00001 tttt -> 11+t, 00000 Y -> 27+Y. Its
// longest form is 9 bits; a row per 9-bit value gives length and size.
struct LengthCode {
  uint16_t length;
  uint8_t codeBits;
  uint8_t byteFollows;  // 00000: the length's byte follows the code
};
constexpr int kLengthCodeBits = 9;

constexpr std::array<LengthCode, 512> MakeLengthCodes() {
  std::array<LengthCode, 512> t{};
  for (uint32_t i = 0; i < 512; ++i) {
    if (i >> 8) t[i] = {3, 1, 0};
    else if (i >> 7) t[i] = {4, 2, 0};
    else if (i >> 6) t[i] = {static_cast<uint16_t>(5 + (i >> 5 & 1)), 4, 0};
    else if (i >> 5) t[i] = {static_cast<uint16_t>(7 + (i >> 3 & 3)), 6, 0};
    else if (i >> 4) t[i] = {static_cast<uint16_t>(11 + (i & 15)), 9, 0};
    else t[i] = {27, 5, 1};
  }
  return t;
}
constexpr std::array<LengthCode, 512> kLengthCodes = MakeLengthCodes();
static_assert(kLengthCodes[0].length + 255 == kLongestMatch);
static_assert(kLengthCodes[0x1F].length == 26 && kLengthCodes[0x1F].codeBits == 9);

// After the distance byte come at most 4 low bits and a 9-bit length code.
constexpr int kSecondPartBits = 4 + kLengthCodeBits;

// ---- margins of the fast path ----

// A fast step reads at most a control word and a literal run of 32 bytes
// copied as one 32-byte block, or a word, the look-ahead word of a code that
// runs into the next word (twice) and two bytes.
constexpr size_t kInMargin = 40;
// It writes at most a literal block of 32 bytes, or a match of 282 bytes whose
// wide copy passes its end by up to 15 bytes.
constexpr size_t kCopyOvershoot = 15;
constexpr size_t kOutMargin = 320;
static_assert(kOutMargin >= kLongestMatch + kCopyOvershoot && kOutMargin >= 32);
static_assert(kInMargin >= 4 + 32 && kInMargin >= 4 + 4 + 1 + 4 + 1);
// A chunk's last code starts before the chunk's end; the slack takes it whole
// on the fast path, overshoot included.
static_assert(kDecodeChunkSlack >= kOutMargin);

// Copies a match of length bytes from distance bytes back, with the result of
// a byte-by-byte copy, and may write up to kCopyOvershoot bytes past its end.
// A wide unit is used only when the distance is at least its width, so it
// never reads bytes that it writes itself.
inline void CopyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
  const uint8_t* from = out - distance;
  uint8_t* const stop = out + length;
  if (distance >= 16) {
    do {
      std::memcpy(out, from, 16);
      out += 16;
      from += 16;
    } while (out < stop);
  } else if (distance >= 8) {
    do {
      std::memcpy(out, from, 8);
      out += 8;
      from += 8;
    } while (out < stop);
  } else if (distance == 1) {
    uint64_t fill = from[0] * 0x0101010101010101ull;
    do {
      std::memcpy(out, &fill, 8);
      out += 8;
    } while (out < stop);
  } else if (distance >= 4) {
    do {
      std::memcpy(out, from, 4);
      out += 4;
      from += 4;
    } while (out < stop);
  } else {
    // Distances 2 and 3 repeat the last two or three bytes.
    do *out++ = *from++;
    while (out < stop);
  }
}

// Where a decode stands between codes: the read position and the control
// word in use, its unused bits at the top and zeros below them.
struct StreamPosition {
  const uint8_t* in;
  uint32_t word;
  int bitsLeft;
};

// The one decoding loop of both forms. Decodes codes from position into
// [out, outEnd) until the end code (ended set) or a failure; matches may
// reach back to windowStart. Chunked, it also stops at the first code
// boundary at or past stop. Updates position and out.
//
// Codes are decoded on a fast path while the margins above hold: then no
// code can run out of input or output, and only its distance is checked.
// Closer to either end, one code at a time goes through the careful path,
// which reads bit by bit and checks every read and write; the two paths
// share the position, so they can take turns at any code.
template <bool kChunked>
DecodeResult DecodeCodes(const uint8_t* inEnd, StreamPosition& position, uint8_t* windowStart,
                         uint8_t*& outRef, uint8_t* outEnd, uint8_t* stop, bool& ended) {
  const uint8_t* in = position.in;
  uint32_t word = position.word;
  int bitsLeft = position.bitsLeft;
  uint8_t* out = outRef;
  DecodeResult result = DecodeOk;
  ended = false;

  const size_t inAvailable = static_cast<size_t>(inEnd - in);
  const size_t outAvailable = static_cast<size_t>(outEnd - out);
  const uint8_t* const inFastEnd = in + (inAvailable > kInMargin ? inAvailable - kInMargin : 0);
  uint8_t* outFastEnd = out + (outAvailable > kOutMargin ? outAvailable - kOutMargin : 0);
  if (kChunked && stop < outFastEnd) outFastEnd = stop;

  // Fast path: a code whose control bits pass the end of the current word
  // continues in the next word, which lies at the read position of that
  // moment. A code's control bits come in at most two parts, one before its
  // first data byte and one after it, and inside a part no byte is read; so
  // a part is read from the current word with the word at the read position
  // appended, and that word is taken (in moves past it) only when the part
  // actually used its bits.
#define PEEK(bits) ((bits) <= bitsLeft ? word : word | (Load32(in) >> bitsLeft))
#define CONSUME(bits)                                  \
  do {                                                 \
    const int n_ = (bits);                             \
    if (n_ > bitsLeft) {                               \
      word = Load32(in) << (n_ - bitsLeft);            \
      in += 4;                                         \
      bitsLeft += 32 - n_;                             \
    } else {                                           \
      word <<= n_;                                     \
      bitsLeft -= n_;                                  \
    }                                                  \
  } while (0)

  // Careful path: a new control word is fetched only when a bit is asked for
  // and the current one is used up; it lies after every data byte read so far.
  uint32_t bit = 0;
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

  for (;;) {
    while (in < inFastEnd && out < outFastEnd) {
      if (bitsLeft == 0) {
        word = Load32(in);
        in += 4;
        bitsLeft = 32;
      }
      // Literals, the most frequent code, are a 1 bit each with their byte
      // next in the stream: a run of ones is a run of bytes, copied at once.
      // The zeros below the unused bits end the count at bitsLeft.
      const int literals = std::countl_one(word);
      if (literals != 0) {
        std::memcpy(out, in, 32);
        in += literals;
        out += literals;
        word = static_cast<uint32_t>(uint64_t{word} << literals);
        bitsLeft -= literals;
        continue;
      }
      // A match: the bit just looked at is its leading 0.
      const uint32_t head = PEEK(kDistanceHeadBits) >> (32 - kDistanceHeadBits);
      uint32_t distance, length;
      if (head & 0x10) {  // 01: two-byte match
        CONSUME(3);
        const uint32_t y = *in++;
        if (head & 0x08) {  // 011 Y t t t: far, or the end code
          const uint32_t n = y << 3 | PEEK(3) >> 29;
          CONSUME(3);
          if (n == 2047) {
            ended = true;
            goto done;
          }
          distance = n + 257;
        } else {
          distance = y + 1;
        }
        SAFETY_CHECK(distance <= static_cast<size_t>(out - windowStart), DecodeBadDistance);
        const uint8_t* from = out - distance;
        out[0] = from[0];
        out[1] = from[1];
        out += 2;
        continue;
      }
      {  // 00: general match
        const DistanceClass c = kDistanceClasses[head];
        CONSUME(c.codeBits);
        const uint32_t y = *in++;
        const uint32_t bits = PEEK(kSecondPartBits);
        const LengthCode l = kLengthCodes[(bits << c.lowBits) >> (32 - kLengthCodeBits)];
        distance = c.base + (y << c.lowBits | bits >> (32 - c.lowBits)) + 1;
        CONSUME(c.lowBits + l.codeBits);
        length = l.length;
        if (l.byteFollows) length += *in++;
      }
      SAFETY_CHECK(distance <= static_cast<size_t>(out - windowStart), DecodeBadDistance);
      CopyMatch(out, distance, length);
      out += length;
    }

    if (kChunked && out >= stop) break;  // the piece is full, at a code boundary

    // Careful path: one code.
    uint32_t distance, length, y;
    NEXT_BIT();
    if (bit) {  // 1 Y: literal
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
        if (n == 2047) {  // the end code
          ended = true;
          goto done;
        }
        distance = n + 257;
      }
      SAFETY_CHECK(distance <= static_cast<size_t>(out - windowStart), DecodeBadDistance);
      SAFETY_CHECK(outEnd - out >= 2, DecodeOutputFull);
      out[0] = out[0 - static_cast<ptrdiff_t>(distance)];
      out[1] = out[1 - static_cast<ptrdiff_t>(distance)];
      out += 2;
      continue;
    }
    {  // 00: general match, distance class prefix first
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
    SAFETY_CHECK(distance <= static_cast<size_t>(out - windowStart), DecodeBadDistance);
    SAFETY_CHECK(static_cast<size_t>(outEnd - out) >= length, DecodeOutputFull);
    {
      const uint8_t* from = out - distance;
      uint8_t* const matchEnd = out + length;
      while (out < matchEnd) *out++ = *from++;
    }
  }

done:
  position = {in, word, bitsLeft};
  outRef = out;
  return result;
#undef PEEK
#undef CONSUME
#undef NEXT_BIT
#undef NEXT_BITS
#undef NEXT_BYTE
}

}  // namespace

DecodeResult DecompressStream(uint8_t* destination, size_t capacity,
                              const uint8_t* source, size_t sourceLength,
                              DecodeCounts* counts) {
  // The first control word is fetched by the first code's first bit.
  StreamPosition position{source, 0, 0};
  uint8_t* out = destination;
  bool ended;
  const DecodeResult result = DecodeCodes<false>(source + sourceLength, position, destination,
                                                 out, destination + capacity, nullptr, ended);
  if (counts) {
    counts->written = static_cast<size_t>(out - destination);
    counts->consumed = static_cast<size_t>(position.in - source);
  }
  return result;
}

void BeginChunkedDecode(ChunkedDecode* state, const uint8_t* source, size_t sourceLength,
                        uint64_t capacity) {
  *state = ChunkedDecode{};
  state->source = source;
  state->sourceLength = sourceLength;
  state->capacity = capacity;
}

DecodeResult DecodeChunk(ChunkedDecode* state, uint8_t* buffer, size_t chunkSize,
                         const uint8_t** piece, size_t* pieceLength) {
  uint8_t* const start = buffer + kDecodeHistory;
  *piece = start;
  *pieceLength = 0;
  if (state->finished) return state->result;

  // The history: the last bytes decoded so far, moved from the end of the
  // previous piece to just before this one.
  const size_t history =
      state->written < kDecodeHistory ? static_cast<size_t>(state->written) : kDecodeHistory;
  if (state->lastPiece != 0) std::memmove(start - history, start + state->lastPiece - history, history);
  state->lastPiece = 0;

  // Writes stop at the capacity when it lies inside the buffer; otherwise the
  // slack keeps the last code of the piece inside it.
  const size_t room = chunkSize + kDecodeChunkSlack;
  const uint64_t capacityLeft = state->capacity - state->written;
  uint8_t* const outEnd = start + (capacityLeft < room ? static_cast<size_t>(capacityLeft) : room);

  StreamPosition position{state->source + state->consumed, state->word, state->bitsLeft};
  uint8_t* out = start;
  bool ended;
  const DecodeResult result =
      DecodeCodes<true>(state->source + state->sourceLength, position, start - history, out,
                        outEnd, start + (chunkSize ? chunkSize : 1), ended);

  const size_t length = static_cast<size_t>(out - start);
  *pieceLength = length;
  state->lastPiece = length;
  state->written += length;
  state->consumed = static_cast<size_t>(position.in - state->source);
  state->word = position.word;
  state->bitsLeft = position.bitsLeft;
  if (result != DecodeOk || ended) {
    state->finished = true;
    state->result = result;
  }
  return result;
}

const char* DecodeResultText(DecodeResult result) {
  switch (result) {
    case DecodeOk: return "ok";
    case DecodeTruncated: return "compressed stream ends before its end code";
    case DecodeBadDistance: return "compressed stream refers before the start of its output";
    case DecodeOutputFull: return "compressed stream decodes to more bytes than recorded";
  }
  return "unknown decode result";
}

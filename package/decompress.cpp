#include "package/decompress.h"

#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

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

// A match opens with a 0 bit; the next five bits at most tell its kind:
//   01 0 Y             two-byte match, distance Y+1
//   01 1 Y ttt         two-byte match, distance Y*8+t+257, or the end code
//   00 1 Y t           general match, distance Y*2+t+1
//   00 01 Y t          ... 512 + Y*2+t+1
//   00 001 Y tt        ... 1024 + Y*4+t+1
//   00 0001 Y ttt      ... 2048 + Y*8+t+1
//   00 0000 Y tttt     ... 4096 + Y*16+t+1
// followed, for a general match, by the length code. A row per value of the
// six bits from the leading 0 on (so 32 rows) gives the code's first part,
// the low bits that follow its byte, and what is added to the distance:
// every kind reads as distance = base + (Y << lowBits | t) + 1.
struct MatchHead {
  uint8_t codeBits;     // control bits before the distance byte
  uint8_t lowBits;      // control bits after it, below the byte
  uint16_t base;
  uint16_t lengthRows;  // where this kind's length rows start in kLengthCodes
  uint16_t endDistance; // the distance that means the end code (0: none)
};
constexpr int kMatchHeadBits = 6;
constexpr uint32_t kEndCode = 2047;  // Y = 255, t = 7 of the far two-byte match
constexpr uint16_t kTwoByteRows = 512;

constexpr std::array<MatchHead, 32> MakeMatchHeads() {
  std::array<MatchHead, 32> t{};
  for (int i = 0; i < 32; ++i) {
    if (i & 16) {  // 01
      if (i & 8) t[i] = {3, 3, 256, kTwoByteRows, 256 + kEndCode + 1};
      else t[i] = {3, 0, 0, kTwoByteRows, 0};
    } else if (i & 8) t[i] = {3, 1, 0, 0, 0};
    else if (i & 4) t[i] = {4, 1, 512, 0, 0};
    else if (i & 2) t[i] = {5, 2, 1024, 0, 0};
    else if (i & 1) t[i] = {6, 3, 2048, 0, 0};
    else t[i] = {6, 4, 4096, 0, 0};
  }
  return t;
}
constexpr std::array<MatchHead, 32> kMatchHeads = MakeMatchHeads();
static_assert(kMatchHeads[0].base + (255u << 4 | 15u) + 1 == kFarthestMatchDistance);
static_assert(kMatchHeads[24].base + (255u << 3 | 6u) + 1 == kFarthestPairDistance);
static_assert(kMatchHeads[24].base + (255u << 3 | 7u) + 1 == kMatchHeads[24].endDistance);
static_assert(kMatchHeads[24].endDistance <= kFarthestMatchDistance);

// The length code of a general match, read after the distance's low bits:
// 1 -> 3, 01 -> 4, 001 t -> 5+t, 0001 tt -> 7+t, 00001 tttt -> 11+t,
// 00000 Y -> 27+Y. Its longest form is 9 bits; a row per 9-bit value gives
// length and size. The two-byte matches have 512 rows of their own, length
// 2 and no code, so that both kinds take the same steps.
struct LengthCode {
  uint16_t length;
  uint8_t codeBits;
  uint8_t byteFollows;  // 00000: the length's byte follows the code
};
constexpr int kLengthCodeBits = 9;

constexpr std::array<LengthCode, 1024> MakeLengthCodes() {
  std::array<LengthCode, 1024> t{};
  for (uint32_t i = 0; i < 512; ++i) {
    if (i >> 8) t[i] = {3, 1, 0};
    else if (i >> 7) t[i] = {4, 2, 0};
    else if (i >> 6) t[i] = {static_cast<uint16_t>(5 + (i >> 5 & 1)), 4, 0};
    else if (i >> 5) t[i] = {static_cast<uint16_t>(7 + (i >> 3 & 3)), 6, 0};
    else if (i >> 4) t[i] = {static_cast<uint16_t>(11 + (i & 15)), 9, 0};
    else t[i] = {27, 5, 1};
    t[kTwoByteRows + i] = {2, 0, 0};
  }
  return t;
}
constexpr std::array<LengthCode, 1024> kLengthCodes = MakeLengthCodes();
static_assert(kLengthCodes[0].length + 255 == kLongestMatch);
static_assert(kLengthCodes[0x100].length == kShortestMatch);
static_assert(kLengthCodes[0x1F].length == 26 && kLengthCodes[0x1F].codeBits == 9);

// After the distance byte come at most 4 low bits and a 9-bit length code.
constexpr int kSecondPartBits = 4 + kLengthCodeBits;

// Most matches are short codes whose control bits all lie in the top
// kWholeMatchBits bits (95% of those in game data for 13 bits). A row per
// value of those bits, from the match's leading 0 on (so half as many rows:
// the leading bit is always 0), gives the whole code at once: how many
// control bits it takes, how the distance follows from its byte (distance =
// (Y << lowBits) + addend), the length, and whether a length byte follows the
// distance byte. Rows of codes longer than the row's bits have 0 bits; the
// two-part reading takes those.
constexpr int kWholeMatchBits = 13;
constexpr uint32_t kWholeBitsMask = 31;       // bits 0-4: control bits of the code
constexpr uint32_t kWholeLengthByte = 1u << 5;
constexpr uint32_t kWholeMaybeEnd = 1u << 6;  // 011 ttt with t = 7: the end code when Y = 255
constexpr int kWholeLowBitsShift = 8;         // bits 8-10: low bits below the distance byte
constexpr int kWholeLengthShift = 11;         // bits 11-15: length (2 to 27)
constexpr int kWholeAddendShift = 16;         // bits 16-28: added to the distance
constexpr int kWholeFirstPartShift = 29;      // bits 29-31: control bits before the byte
constexpr uint32_t kWholeAddendMask = 0x1FFF;

constexpr uint32_t MakeWholeMatch(uint32_t row) {
  const uint32_t word = row << (32 - kWholeMatchBits);  // zeros past the row's bits
  const MatchHead head = kMatchHeads[word >> (32 - kMatchHeadBits)];
  const uint32_t rest = word << head.codeBits;
  const uint32_t low = static_cast<uint32_t>((uint64_t{rest} << head.lowBits) >> 32);
  const LengthCode l =
      kLengthCodes[head.lengthRows + ((rest << head.lowBits) >> (32 - kLengthCodeBits))];
  const uint32_t used = head.codeBits + head.lowBits + l.codeBits;
  if (used > kWholeMatchBits) return 0;  // uses bits past the row
  const bool maybeEnd = head.endDistance != 0 && low == 7;
  return used | (l.byteFollows ? kWholeLengthByte : 0) | (maybeEnd ? kWholeMaybeEnd : 0) |
         uint32_t{head.lowBits} << kWholeLowBitsShift | uint32_t{l.length} << kWholeLengthShift |
         (head.base + low + 1) << kWholeAddendShift |
         uint32_t{head.codeBits} << kWholeFirstPartShift;
}

// Not constexpr: the table is filled when the program starts, not stored in
// it, which keeps 16 KiB out of every updater download for a few
// microseconds of start-up.
std::array<uint32_t, (1u << (kWholeMatchBits - 1))> MakeWholeMatches() {
  std::array<uint32_t, (1u << (kWholeMatchBits - 1))> t;
  for (uint32_t i = 0; i < t.size(); ++i) t[i] = MakeWholeMatch(i);
  return t;
}
const std::array<uint32_t, (1u << (kWholeMatchBits - 1))> kWholeMatches = MakeWholeMatches();
// 00 1 Y 0 then length code 1: five bits, distance 2Y+1, length 3.
static_assert(MakeWholeMatch(0b0'0101'0000'0000) ==
              (5u | 1u << kWholeLowBitsShift | 3u << kWholeLengthShift | 1u << kWholeAddendShift |
               3u << kWholeFirstPartShift));
// 011 Y 111: the far two-byte match that is the end code when Y = 255.
static_assert(MakeWholeMatch(0b0'1111'1100'0000) ==
              (6u | kWholeMaybeEnd | 3u << kWholeLowBitsShift | 2u << kWholeLengthShift |
               264u << kWholeAddendShift | 3u << kWholeFirstPartShift));
// 00 0000 Y tttt then a length code from 000: at least 15 bits, longer than a row.
static_assert(MakeWholeMatch(0) == 0);

// What a row and the code's distance byte y give.
inline uint32_t WholeDistance(uint32_t row, uint32_t y) {
  return (y << (row >> kWholeLowBitsShift & 7)) + (row >> kWholeAddendShift & kWholeAddendMask);
}
inline uint32_t WholeLength(uint32_t row) { return row >> kWholeLengthShift & 31; }
inline bool WholeIsEnd(uint32_t row, uint32_t y) { return (row & kWholeMaybeEnd) && y == 255; }

// ---- margins of the fast path ----

// One fast step (a literal run, then a match) reads at most a control word,
// 32 bytes copied as one block for the literals (of which 31 are taken when
// a match follows) and 10 bytes for the match: a word its first part runs
// into, its byte, the word its second part runs into (or looks at) and the
// length byte.
constexpr size_t kInMargin = 64;
static_assert(kInMargin >= 4 + 32 && kInMargin >= 4 + 31 + 4 + 1 + 4 + 1);
// It writes at most the literal block, or 31 literals and a longest match
// whose wide copy passes its end by up to 15 bytes.
constexpr size_t kCopyOvershoot = 15;
constexpr size_t kOutMargin = 352;
static_assert(kOutMargin >= 31 + kLongestMatch + kCopyOvershoot);
// A chunk's last step starts before the chunk's end; the slack takes it whole
// on the fast path, overshoot included.
static_assert(kDecodeChunkSlack >= kOutMargin);

// Copies a match of length bytes from distance bytes back, with the result of
// a byte-by-byte copy, and may write up to kCopyOvershoot bytes past its end.
// A wide unit is used only when the distance is at least its width, so it
// never reads bytes that it writes itself.
inline void CopyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
  const uint8_t* from = out - distance;
  uint8_t* const stop = out + length;
  if (distance >= 8) {
    // Two 8-byte units first: most matches end within them. The second unit
    // reads at most up to the first one's end, which is written by then.
    std::memcpy(out, from, 8);
    std::memcpy(out + 8, from + 8, 8);
    if (length > 16) {
      out += 16;
      from += 16;
      if (distance >= 16) {
        do {
          std::memcpy(out, from, 16);
          out += 16;
          from += 16;
        } while (out < stop);
      } else {
        do {
          std::memcpy(out, from, 8);
          out += 8;
          from += 8;
        } while (out < stop);
      }
    }
  } else if (distance == 1) {
    // A run of one byte.
    if (length <= 16) {
      const uint64_t fill = from[0] * 0x0101010101010101ull;
      std::memcpy(out, &fill, 8);
      std::memcpy(out + 8, &fill, 8);
    } else {
      std::memset(out, from[0], length);
    }
  } else {
    // Distances 2 to 7 repeat the last bytes. Once as many bytes are written
    // as the pattern's first multiple of 8 or more (period) lacks, the
    // output repeats itself period bytes back, and 8-byte units serve.
    constexpr uint8_t kPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    const uint32_t head = kPeriod[distance] - distance;
    if (length <= head) {
      do *out++ = *from++;
      while (out < stop);
      return;
    }
    for (uint32_t i = 0; i < head; ++i) *out++ = *from++;
    from = out - kPeriod[distance];
    do {
      std::memcpy(out, from, 8);
      out += 8;
      from += 8;
    } while (out < stop);
  }
}

// The same copy without writing past the match's end, for the careful path:
// long runs and long copies through the library, short ones in 4-byte units
// where the distance allows.
inline void CopyMatchExactly(uint8_t* out, uint32_t distance, uint32_t length) {
  const uint8_t* from = out - distance;
  if (length > 32 && distance == 1) {
    std::memset(out, from[0], length);
  } else if (length > 32 && distance >= length) {
    std::memcpy(out, from, length);  // no overlap
  } else {
    uint8_t* const stop = out + length;
    if (distance >= 4) {
      for (; stop - out >= 4; out += 4, from += 4) std::memcpy(out, from, 4);
    }
    while (out < stop) *out++ = *from++;
  }
}

// The control word is kept at the top of a register-wide value (64 bits on
// 64-bit targets), its unused bits first and zeros below them: a run of
// literal bits is counted without a special case for a whole word of them,
// and a code's bits are looked at with one shift.
using ControlBits = std::conditional_t<(sizeof(size_t) >= 8), uint64_t, uint32_t>;
constexpr int kControlBits = static_cast<int>(sizeof(ControlBits) * 8);
constexpr int kWordShift = kControlBits - 32;

inline ControlBits WordAtTop(uint32_t word) { return ControlBits{word} << kWordShift; }

// The next word placed right after the bitsLeft unused bits (0 to 32).
inline ControlBits Appended(uint32_t next, int bitsLeft) {
  if constexpr (kControlBits == 64) return (uint64_t{next} << 32) >> bitsLeft;
  else return static_cast<uint32_t>(uint64_t{next} >> bitsLeft);
}

// How many 1 bits (literals) lead the unused bits: never more than bitsLeft,
// as zeros follow them.
inline int LeadingLiterals(ControlBits bits) {
  if constexpr (kControlBits == 64) return __builtin_clzll(~bits);  // ~bits is never 0
  else return std::countl_one(bits);
}

// bits shifted left by 0 to 32.
inline ControlBits ShiftedOut(ControlBits bits, int n) {
  if constexpr (kControlBits == 64) return bits << n;
  else return static_cast<uint32_t>(uint64_t{bits} << n);
}

// Where a decode stands between codes: the read position and the control
// word in use.
struct StreamPosition {
  const uint8_t* in;
  ControlBits bits;  // the unused bits of the control word, at the top
  int bitsLeft;
};

enum FastOutcome { FastMargin, FastEnd, FastBadDistance };

// The fast path: decodes while in < inFastEnd and out < outFastEnd, where
// the margins above make every read and write of a step safe, so only a
// match's distance is checked. Returns at the first step past the limits
// (FastMargin), after the end code, or at a distance reaching before
// windowStart (position and out then after the match's code, as the careful
// path leaves them). Kept apart from the careful path so that its variables
// have the registers to themselves.
//
// A code whose control bits pass the end of the current word continues in
// the next word, which lies at the read position of that moment. A code's
// control bits come in at most two parts, one before its first data byte and
// one after it, and inside a part no byte is read; so a part is read from the
// current word with the word at the read position appended (past the bits a
// part needs, the appended bits do no harm), and that word is taken (in
// moves past it) only when the part actually used its bits.
//
// kCheckDistance: once kFarthestMatchDistance bytes lie before out, no
// distance the codes can express reaches before the window, and the check is
// left out.
template <bool kCheckDistance>
inline FastOutcome DecodeFastSteps(StreamPosition& position, uint8_t*& outRef,
                                   const uint8_t* const inFastEnd, uint8_t* const outFastEnd,
                                   const uint8_t* const windowStart) {
  const uint8_t* in = position.in;
  ControlBits bits = position.bits;
  int bitsLeft = position.bitsLeft;
  uint8_t* out = outRef;
  FastOutcome outcome = FastMargin;

#define PEEK() (bits | Appended(Load32(in), bitsLeft))
#define CONSUME(count)                                         \
  do {                                                         \
    const int n_ = (count);                                    \
    if (n_ > bitsLeft) {                                       \
      bits = WordAtTop(Load32(in)) << (n_ - bitsLeft);         \
      in += 4;                                                 \
      bitsLeft += 32 - n_;                                     \
    } else {                                                   \
      bits <<= n_;                                             \
      bitsLeft -= n_;                                          \
    }                                                          \
  } while (0)

  while (in < inFastEnd && out < outFastEnd) {
    if (bitsLeft == 0) {
      bits = WordAtTop(Load32(in));
      in += 4;
      bitsLeft = 32;
    }
    // Literals, the most frequent code, are a 1 bit each with their byte next
    // in the stream: a run of ones is a run of bytes, copied at once (always
    // as a 32-byte block, which costs less than a branch).
    const int literals = LeadingLiterals(bits);
    std::memcpy(out, in, 32);
    in += literals;
    out += literals;
    bits = ShiftedOut(bits, literals);
    bitsLeft -= literals;
    if (bitsLeft == 0) continue;  // the word ended with the run

    // Then a match. Mostly its control bits all lie in this word and one row
    // gives the whole code.
    uint32_t distance, length;
    const uint32_t whole = kWholeMatches[bits >> (kControlBits - kWholeMatchBits)];
    const uint32_t used = whole & kWholeBitsMask;
    if (used - 1 < static_cast<uint32_t>(bitsLeft)) {  // (used 0: longer than the row)
      const uint32_t y = *in++;
      distance = WholeDistance(whole, y);
      length = WholeLength(whole);
      if (whole & kWholeLengthByte) length += *in++;
      bits <<= used;
      bitsLeft -= static_cast<int>(used);
      if (WholeIsEnd(whole, y)) {
        outcome = FastEnd;
        break;
      }
    } else if (const uint32_t next = Load32(in + 1),
               row = kWholeMatches[(bits | Appended(next, bitsLeft)) >>
                                   (kControlBits - kWholeMatchBits)];
               (row >> kWholeFirstPartShift) - 1 < static_cast<uint32_t>(bitsLeft)) {
      // A code that runs into the next word after its byte (the usual way to
      // run on): then the next word lies after the byte, and with it
      // appended the row is right (the first part, in this word, is a prefix
      // code and stops on its own).
      const uint32_t runOn = (row & kWholeBitsMask) - bitsLeft;
      const uint32_t y = *in;
      in += 5;
      distance = WholeDistance(row, y);
      length = WholeLength(row);
      if (row & kWholeLengthByte) length += *in++;
      bits = WordAtTop(next) << runOn;
      bitsLeft = 32 - static_cast<int>(runOn);
      if (WholeIsEnd(row, y)) {
        outcome = FastEnd;
        break;
      }
    } else {
      // A longer code, or one whose first part runs into the next word: its
      // kind and first part from the table, then its second part.
      const MatchHead head = kMatchHeads[PEEK() >> (kControlBits - kMatchHeadBits)];
      CONSUME(head.codeBits);
      const uint32_t y = *in++;
      const uint32_t second = static_cast<uint32_t>(PEEK() >> kWordShift);
      const uint32_t low = static_cast<uint32_t>((uint64_t{second} << head.lowBits) >> 32);
      const LengthCode l =
          kLengthCodes[head.lengthRows + ((second << head.lowBits) >> (32 - kLengthCodeBits))];
      CONSUME(head.lowBits + l.codeBits);
      distance = head.base + (y << head.lowBits | low) + 1;
      if (distance == head.endDistance) {
        outcome = FastEnd;
        break;
      }
      length = l.length;
      if (l.byteFollows) length += *in++;
    }
    if (kCheckDistance && distance > static_cast<size_t>(out - windowStart)) {
      outcome = FastBadDistance;
      break;
    }
    CopyMatch(out, distance, length);
    out += length;
  }

  position = {in, bits, bitsLeft};
  outRef = out;
  return outcome;
#undef PEEK
#undef CONSUME
}

[[gnu::noinline]] FastOutcome DecodeFast(StreamPosition& position, uint8_t*& out,
                                         const uint8_t* const inFastEnd,
                                         uint8_t* const outFastEnd,
                                         const uint8_t* const windowStart) {
  const size_t behind = static_cast<size_t>(out - windowStart);
  if (behind < kFarthestMatchDistance) {
    const size_t room = static_cast<size_t>(outFastEnd - out);
    const size_t toFullWindow = kFarthestMatchDistance - behind;
    uint8_t* const checkedEnd = out + (toFullWindow < room ? toFullWindow : room);
    const FastOutcome outcome =
        DecodeFastSteps<true>(position, out, inFastEnd, checkedEnd, windowStart);
    if (outcome != FastMargin) return outcome;
  }
  return DecodeFastSteps<false>(position, out, inFastEnd, outFastEnd, windowStart);
}

// The one decoding loop of both forms. Decodes codes from position into
// [out, outEnd) until the end code (ended set) or a failure; matches may
// reach back to windowStart. Chunked, it also stops at the first code
// boundary at or past stop. Updates position and out.
//
// Codes go through the fast path while its margins hold: then no code can
// run out of input or output. Closer to either end, one code at a time goes
// through the careful path, which reads it bit by bit in the stream's order,
// through the same tables, and checks every read and write. The two share
// the position, so they can take turns at any code.
template <bool kChunked>
DecodeResult DecodeCodes(const uint8_t* inEnd, StreamPosition& position,
                         const uint8_t* windowStart, uint8_t*& outRef, uint8_t* outEnd,
                         uint8_t* stop, bool& ended) {
  DecodeResult result = DecodeOk;
  ended = false;

  const size_t inAvailable = static_cast<size_t>(inEnd - position.in);
  const size_t outAvailable = static_cast<size_t>(outEnd - outRef);
  const uint8_t* const inFastEnd =
      position.in + (inAvailable > kInMargin ? inAvailable - kInMargin : 0);
  uint8_t* outFastEnd = outRef + (outAvailable > kOutMargin ? outAvailable - kOutMargin : 0);
  if (kChunked && stop < outFastEnd) outFastEnd = stop;

  // The limits only come nearer, so the fast path runs at most once.
  if (position.in < inFastEnd && outRef < outFastEnd) {
    switch (DecodeFast(position, outRef, inFastEnd, outFastEnd, windowStart)) {
      case FastMargin: break;
      case FastEnd: ended = true; return DecodeOk;
      case FastBadDistance: return DecodeBadDistance;
    }
  }

  const uint8_t* in = position.in;
  ControlBits bits = position.bits;
  int bitsLeft = position.bitsLeft;
  uint8_t* out = outRef;

  // Careful path: a new control word is fetched only when a bit is asked for
  // and the current one is used up; it lies after every data byte read so far.
  uint32_t bit = 0;
#define NEXT_BIT()                                              \
  do {                                                          \
    if (bitsLeft == 0) {                                        \
      SAFETY_CHECK(inEnd - in >= 4, DecodeTruncated);           \
      bits = WordAtTop(Load32(in));                             \
      in += 4;                                                  \
      bitsLeft = 32;                                            \
    }                                                           \
    bit = static_cast<uint32_t>(bits >> (kControlBits - 1));    \
    bits <<= 1;                                                 \
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
    if (kChunked && out >= stop) break;  // the piece is full, at a code boundary

    uint32_t y;
    NEXT_BIT();
    if (bit) {  // 1 Y: a literal
      NEXT_BYTE(y);
      SAFETY_CHECK(out < outEnd, DecodeOutputFull);
      *out++ = static_cast<uint8_t>(y);
      continue;
    }

    // A match. Its first part, bit by bit from the leading 0 on: the row of
    // the bits read so far (the missing ones taken as zeros) belongs to a
    // longer code until the part is whole, as the codes are prefix-free.
    uint32_t code = 0;
    int codeBits = 1;
    MatchHead head = kMatchHeads[0];
    while (head.codeBits > codeBits) {
      NEXT_BIT();
      code = code * 2 + bit;
      ++codeBits;
      head = kMatchHeads[code << (kMatchHeadBits - codeBits)];
    }
    NEXT_BYTE(y);
    uint32_t low = 0;
    NEXT_BITS(head.lowBits, low);
    const uint32_t distance = head.base + (y << head.lowBits | low) + 1;
    if (distance == head.endDistance) {
      ended = true;
      goto done;
    }

    // Its length code the same way (a two-byte match's row has no bits).
    code = 0;
    codeBits = 0;
    LengthCode lengthCode = kLengthCodes[head.lengthRows];
    while (lengthCode.codeBits > codeBits) {
      NEXT_BIT();
      code = code * 2 + bit;
      ++codeBits;
      lengthCode = kLengthCodes[head.lengthRows + (code << (kLengthCodeBits - codeBits))];
    }
    uint32_t length = lengthCode.length;
    if (lengthCode.byteFollows) {
      NEXT_BYTE(y);
      length += y;
    }
    SAFETY_CHECK(distance <= static_cast<size_t>(out - windowStart), DecodeBadDistance);
    SAFETY_CHECK(static_cast<size_t>(outEnd - out) >= length, DecodeOutputFull);
    CopyMatchExactly(out, distance, length);
    out += length;
  }

done:
  position = {in, bits, bitsLeft};
  outRef = out;
  return result;
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
  if (state->lastPiece != 0)
    std::memmove(start - history, start + state->lastPiece - history, history);
  state->lastPiece = 0;

  // Writes stop at the capacity when it lies inside the buffer; otherwise the
  // slack keeps the last code of the piece inside it.
  const size_t room = chunkSize + kDecodeChunkSlack;
  const uint64_t capacityLeft = state->capacity - state->written;
  uint8_t* const outEnd = start + (capacityLeft < room ? static_cast<size_t>(capacityLeft) : room);

  StreamPosition position{state->source + state->consumed, WordAtTop(state->word),
                          state->bitsLeft};
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
  state->word = static_cast<uint32_t>(position.bits >> kWordShift);
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

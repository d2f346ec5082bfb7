#include "tests/support/reference_decoder.h"

namespace {

// Reads the stream in the order the format gives: a control word of 4 bytes
// when a bit is wanted and the last word is used up, data bytes in between.
struct Reader {
  const uint8_t* source;
  size_t length;
  size_t at = 0;
  uint32_t word = 0;
  int bitsLeft = 0;
  bool truncated = false;

  uint32_t Bit() {
    if (truncated) return 0;
    if (bitsLeft == 0) {
      if (length - at < 4) {
        truncated = true;
        return 0;
      }
      word = uint32_t{source[at]} | uint32_t{source[at + 1]} << 8 |
             uint32_t{source[at + 2]} << 16 | uint32_t{source[at + 3]} << 24;
      at += 4;
      bitsLeft = 32;
    }
    --bitsLeft;
    return (word >> bitsLeft) & 1;
  }
  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value * 2 + Bit();
    return value;
  }
  uint32_t Byte() {
    if (truncated) return 0;
    if (at == length) {
      truncated = true;
      return 0;
    }
    return source[at++];
  }
};

}  // namespace

ReferenceResult ReferenceDecompress(const uint8_t* source, size_t length, size_t capacity) {
  Reader r{source, length};
  ReferenceResult out;
  std::vector<uint8_t>& o = out.output;
  auto finish = [&](DecodeResult result) {
    out.result = result;
    out.consumed = r.at;
    return out;
  };
  for (;;) {
    uint32_t distance, matchLength;
    if (r.Bit()) {  // 1 Y: literal
      uint32_t y = r.Byte();
      if (r.truncated) return finish(DecodeTruncated);
      if (o.size() == capacity) return finish(DecodeOutputFull);
      o.push_back(static_cast<uint8_t>(y));
      continue;
    }
    if (r.truncated) return finish(DecodeTruncated);
    if (r.Bit()) {  // 01: two-byte match
      uint32_t far = r.Bit();
      uint32_t y = r.Byte();
      if (far) {
        uint32_t n = y * 8 + r.Bits(3);
        if (r.truncated) return finish(DecodeTruncated);
        if (n == 2047) return finish(DecodeOk);  // the end code
        distance = n + 257;
      } else {
        distance = y + 1;
      }
      matchLength = 2;
    } else {  // 00: general match
      int lowBits;
      uint32_t base;
      if (r.Bit()) lowBits = 1, base = 0;
      else if (r.Bit()) lowBits = 1, base = 512;
      else if (r.Bit()) lowBits = 2, base = 1024;
      else if (r.Bit()) lowBits = 3, base = 2048;
      else lowBits = 4, base = 4096;
      uint32_t y = r.Byte();
      distance = base + (y << lowBits | r.Bits(lowBits)) + 1;
      if (r.Bit()) matchLength = 3;
      else if (r.Bit()) matchLength = 4;
      else if (r.Bit()) matchLength = 5 + r.Bits(1);
      else if (r.Bit()) matchLength = 7 + r.Bits(2);
      else if (r.Bit()) matchLength = 11 + r.Bits(4);
      else matchLength = 27 + r.Byte();
    }
    if (r.truncated) return finish(DecodeTruncated);
    if (distance > o.size()) return finish(DecodeBadDistance);
    if (capacity - o.size() < matchLength) return finish(DecodeOutputFull);
    for (uint32_t i = 0; i < matchLength; ++i) o.push_back(o[o.size() - distance]);
  }
}

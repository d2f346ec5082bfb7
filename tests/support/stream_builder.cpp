#include "tests/support/stream_builder.h"

void PutBit(StreamBuilder& s, int bit) {
  if (s.bitsUsed == 32) {
    s.wordAt = s.bytes.size();
    s.bytes.insert(s.bytes.end(), 4, 0);
    s.bitsUsed = 0;
  }
  int position = 31 - s.bitsUsed;  // bit 31 first; little-endian word
  if (bit) s.bytes[s.wordAt + position / 8] |= static_cast<uint8_t>(1u << (position % 8));
  ++s.bitsUsed;
}

void PutBits(StreamBuilder& s, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) PutBit(s, (value >> i) & 1);
}

void PutByte(StreamBuilder& s, uint8_t byte) { s.bytes.push_back(byte); }

void PutLiteral(StreamBuilder& s, uint8_t byte) {
  PutBit(s, 1);
  PutByte(s, byte);
}

void PutShortMatch(StreamBuilder& s, uint32_t distance) {
  PutBit(s, 0);
  PutBit(s, 1);
  if (distance <= 256) {
    PutBit(s, 0);
    PutByte(s, static_cast<uint8_t>(distance - 1));
  } else {
    uint32_t n = distance - 257;
    PutBit(s, 1);
    PutByte(s, static_cast<uint8_t>(n / 8));
    PutBits(s, n % 8, 3);
  }
}

namespace {

struct DistanceClass {
  uint32_t prefix;
  int prefixBits;
  int lowBits;
  uint32_t base;  // v of the class's first distance
};
const DistanceClass kDistanceClasses[] = {
    {0b1, 1, 1, 0}, {0b01, 2, 1, 512}, {0b001, 3, 2, 1024}, {0b0001, 4, 3, 2048}, {0b0000, 4, 4, 4096},
};

struct LengthClass {
  uint32_t prefix;
  int prefixBits;
  int extraBits;  // -1: one data byte
  uint32_t first, last;
};
const LengthClass kLengthClasses[] = {
    {0b1, 1, 0, 3, 3},         {0b01, 2, 0, 4, 4},          {0b001, 3, 1, 5, 6},
    {0b0001, 4, 2, 7, 10},     {0b00001, 5, 4, 11, 26},     {0b00000, 5, -1, 27, 282},
};

}  // namespace

void PutMatch(StreamBuilder& s, uint32_t distance, uint32_t length) {
  PutBit(s, 0);
  PutBit(s, 0);
  uint32_t v = distance - 1;
  for (const DistanceClass& c : kDistanceClasses) {
    uint32_t span = 256u << c.lowBits;
    if (v >= c.base && v < c.base + span) {
      PutBits(s, c.prefix, c.prefixBits);
      uint32_t rest = v - c.base;
      PutByte(s, static_cast<uint8_t>(rest >> c.lowBits));
      PutBits(s, rest & ((1u << c.lowBits) - 1), c.lowBits);
      break;
    }
  }
  for (const LengthClass& c : kLengthClasses) {
    if (length >= c.first && length <= c.last) {
      PutBits(s, c.prefix, c.prefixBits);
      if (c.extraBits < 0) PutByte(s, static_cast<uint8_t>(length - c.first));
      else PutBits(s, length - c.first, c.extraBits);
      break;
    }
  }
}

void PutEnd(StreamBuilder& s) {
  PutBit(s, 0);
  PutBit(s, 1);
  PutBit(s, 1);
  PutByte(s, 255);
  PutBits(s, 7, 3);
}

std::vector<uint8_t> Finish(const StreamBuilder& s) { return s.bytes; }

void ReferenceCopy(std::vector<uint8_t>& out, uint32_t distance, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

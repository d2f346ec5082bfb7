// A deliberately plain writer of FA2 compressed streams for tests, built
// straight from the code tables and independent of the compressor: lets a
// test put any code, valid or not, at a chosen place in a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct StreamBuilder {
  std::vector<uint8_t> bytes{0, 0, 0, 0};  // the first control word opens every stream
  size_t wordAt = 0;                        // where the current control word lies
  int bitsUsed = 0;                         // of the current word, 0 to 32
};

// A control bit: a new word is placed at the end of the stream when the
// current one is full.
void PutBit(StreamBuilder& s, int bit);
// count control bits of value, most significant first.
void PutBits(StreamBuilder& s, uint32_t value, int count);
// A data byte, at the end of the stream.
void PutByte(StreamBuilder& s, uint8_t byte);

void PutLiteral(StreamBuilder& s, uint8_t byte);
void PutShortMatch(StreamBuilder& s, uint32_t distance);  // length 2, distance 1 to 2303
void PutMatch(StreamBuilder& s, uint32_t distance, uint32_t length);  // 1-8192, 3-282
void PutEnd(StreamBuilder& s);
// The stream's bytes (unused bits of the last word are zero).
std::vector<uint8_t> Finish(const StreamBuilder& s);

// What a stream of matches means, done the slow obvious way: appends
// length bytes copied one at a time from distance bytes back.
void ReferenceCopy(std::vector<uint8_t>& out, uint32_t distance, uint32_t length);

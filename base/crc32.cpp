#include "base/crc32.h"

namespace {

// Eight tables of 256, built on first use: slicing by eight bytes reads one
// word pair per step instead of one byte, some five times faster than the
// byte-wise loop, for 8 KiB of tables.
uint32_t tables[8][256];
bool built = false;

void BuildTables() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (int t = 1; t < 8; ++t) tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
  built = true;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t length) {
  if (!built) BuildTables();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (; length >= 8; p += 8, length -= 8) {
    uint32_t low = crc ^ (p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    uint32_t high = p[4] | uint32_t{p[5]} << 8 | uint32_t{p[6]} << 16 | uint32_t{p[7]} << 24;
    crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
          tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
          tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
  }
  while (length--) crc = tables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

#include "tests/support/tiny_pe.h"

#include <cstring>

namespace {

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> TinyPe(bool is64, TinyPeLayout* layout) {
  std::vector<uint8_t> b(0x600, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put(b, 0x3C, 0x40, 4);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  uint32_t optionalSize = is64 ? 240 : 224, opt = 0x58;
  Put(b, 0x44, is64 ? 0x8664 : 0x14C, 2);  // machine
  Put(b, 0x46, 2, 2);                       // sections
  Put(b, 0x54, optionalSize, 2);
  Put(b, 0x56, 0x0102, 2);  // executable
  Put(b, opt, is64 ? 0x20B : 0x10B, 2);
  Put(b, opt + 32, 0x1000, 4);  // section alignment
  Put(b, opt + 36, 0x200, 4);   // file alignment
  Put(b, opt + 56, 0x3000, 4);  // image size
  Put(b, opt + 60, 0x200, 4);   // header size
  uint32_t directories = opt + (is64 ? 112 : 96);
  Put(b, directories - 4, 16, 4);
  Put(b, directories + 8 * 2, 0x1000, 4);  // resources: an empty root directory
  Put(b, directories + 8 * 2 + 4, 16, 4);
  Put(b, directories + 8 * 5, 0x2000, 4);  // relocations: one empty block
  Put(b, directories + 8 * 5 + 4, 8, 4);
  uint32_t table = opt + optionalSize;
  const struct {
    const char* name;
    uint32_t virtualSize, address, rawOffset, flags;
  } sections[] = {{".rsrc", 16, 0x1000, 0x200, 0x40000040}, {".reloc", 8, 0x2000, 0x400, 0x42000040}};
  for (int i = 0; i < 2; ++i) {
    uint32_t at = table + 40 * i;
    std::memcpy(&b[at], sections[i].name, std::strlen(sections[i].name));
    Put(b, at + 8, sections[i].virtualSize, 4);
    Put(b, at + 12, sections[i].address, 4);
    Put(b, at + 16, 0x200, 4);
    Put(b, at + 20, sections[i].rawOffset, 4);
    Put(b, at + 36, sections[i].flags, 4);
  }
  Put(b, 0x404, 8, 4);  // the relocation block: page 0, 8 bytes, no entries
  if (layout) *layout = {opt, directories, table};
  return b;
}

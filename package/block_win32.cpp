#include "package/block.h"

#include <windows.h>

void* AllocBlock(uint32_t size) { return GlobalAlloc(GMEM_FIXED, size ? size : 1); }
void FreeBlock(void* block) {
  if (block) GlobalFree(block);
}

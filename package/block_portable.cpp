#include "package/block.h"

#include <cstdlib>

void* AllocBlock(uint32_t size) { return std::malloc(size ? size : 1); }
void FreeBlock(void* block) { std::free(block); }

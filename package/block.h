// Whole blocks of memory for the package directory and decoded entries.
// On Windows these come from the global heap (fixed blocks); the portable
// build uses the C heap. A block is freed by whoever took it.
#pragma once

#include <cstdint>

void* AllocBlock(uint32_t size);  // none (nullptr) when the memory is not there
void FreeBlock(void* block);      // accepts none

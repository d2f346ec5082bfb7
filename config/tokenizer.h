// The item tokenizer for comma-separated INI value lists, and the decimal
// conversion of integer values. Portable: the update run reuses both.
#pragma once

#include <cstddef>
#include <cstdint>

// Disc number of the most recent item prefix ("2:file") that NextItem met.
// Always 0 to 9, so it can index the ten disc check files.
extern int currentDisc;

// True for the bytes that end an item: NUL, LF, CR and comma.
bool IsItemDelimiter(unsigned char c);

// Takes the next item of the list at cursor into item (itemCapacity bytes,
// terminator included) and moves cursor one byte past the item's delimiter.
// listEnd is one past the last byte the INI reader filled (buffer + the
// capacity it was read with); nothing from listEnd on is read, and reaching
// it ends the list. An item longer than itemCapacity - 1 bytes is cut at the
// last whole character that fits, while the cursor still moves past all of it. Returns 1 when an item was
// taken, 0 at the end of the list (item not written).
int NextItem(char* item, size_t itemCapacity, const char*& cursor, const char* listEnd);

template <size_t N>
int NextItem(char (&item)[N], const char*& cursor, const char* listEnd) {
  return NextItem(item, N, cursor, listEnd);
}

// Decimal text to a 32-bit integer: leading white space, one optional sign,
// then digits up to the first non-digit; no digits gives 0. Wraps modulo
// 2^32, so "4294967295" and "-1" give the same value.
void ParseDecimal(const char* text, int32_t& value);

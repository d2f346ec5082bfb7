// The item tokenizer for comma-separated INI value lists, and the decimal
// conversion of integer values. Portable: the update run reuses both.
#pragma once

#include <cstddef>
#include <cstdint>

// The disc prefix of a list item, the one rule both list readers use: a
// single byte before a colon ("2:"; "12:x" has none). first is the item's
// first byte, which must not end it, second the byte after it. True when they
// form a prefix; disc is then the digit's value, or kNotADiscNumber for any
// other byte (a drive letter, say), which each reader treats its own way.
constexpr int32_t kNotADiscNumber = -1;
bool DiscPrefix(unsigned char first, unsigned char second, int32_t& disc);

// True for the bytes that end an item: NUL, LF, CR and comma.
bool IsItemDelimiter(unsigned char c);

// Takes the next item of the list at cursor into item (itemCapacity bytes,
// terminator included) and moves cursor one byte past the item's delimiter.
// disc, when given, is the list's disc: the caller starts it (0 for a new
// list) and an item's prefix ("2:file") sets it, so that an item without one
// belongs to the disc of the nearest prefixed item before it. It is always 0
// to 9 (a drive letter counts as disc 0), an index of the ten disc check files.
// listEnd is one past the last byte the INI reader filled (buffer + the
// capacity it was read with); nothing from listEnd on is read, and reaching
// it ends the list. An item longer than itemCapacity - 1 bytes is cut at the
// last whole character that fits, while the cursor still moves past all of it. Returns 1 when an item was
// taken, 0 at the end of the list (item not written).
int NextItem(char* item, size_t itemCapacity, const char*& cursor, const char* listEnd,
             int32_t* disc = nullptr);

template <size_t N>
int NextItem(char (&item)[N], const char*& cursor, const char* listEnd,
             int32_t* disc = nullptr) {
  return NextItem(item, N, cursor, listEnd, disc);
}

// Decimal text to a 32-bit integer: leading white space, one optional sign,
// then digits up to the first non-digit; no digits gives 0. Wraps modulo
// 2^32, so "4294967295" and "-1" give the same value.
void ParseDecimal(const char* text, int32_t& value);

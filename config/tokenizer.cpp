#include "config/tokenizer.h"

#include "base/bounded_text.h"

bool DiscPrefix(unsigned char first, unsigned char second, int32_t& disc) {
  if (second != ':') return false;
  disc = first >= '0' && first <= '9' ? first - '0' : kNotADiscNumber;
  return true;
}

bool IsItemDelimiter(unsigned char c) { return c == '\0' || c == '\n' || c == '\r' || c == ','; }

int NextItem(char* item, size_t itemCapacity, const char*& cursor, const char* listEnd,
             int32_t* disc) {
  // The end of the filled part reads as a NUL, so a list whose value fills
  // its buffer ends there without looking at the bytes behind it.
  auto byteAt = [listEnd](const char* p) -> unsigned char {
    return p < listEnd ? static_cast<unsigned char>(*p) : 0;
  };

  while (byteAt(cursor) == ' ') ++cursor;
  if (IsItemDelimiter(byteAt(cursor))) return 0;

  // A drive letter is taken off like a disc prefix and counts as disc 0:
  // the disc indexes the ten disc check files.
  int32_t prefix = 0;
  if (DiscPrefix(byteAt(cursor), byteAt(cursor + 1), prefix)) {
    if (disc) *disc = prefix == kNotADiscNumber ? 0 : prefix;
    cursor += 2;
  }

  size_t length = 0;
  bool cut = false;
  for (;;) {
    unsigned char c = byteAt(cursor);
    if (cursor < listEnd) ++cursor;
    if (IsItemDelimiter(c)) break;
    if (length + 1 < itemCapacity) item[length++] = static_cast<char>(c);
    else cut = true;
  }
  // Half a character at the end of a cut item would take the separator that
  // a path join appends as its second byte.
  if (cut) length = WholeCharacters(item, length);
  if (itemCapacity > 0) item[length] = '\0';
  return 1;
}

void ParseDecimal(const char* text, int32_t& value) {
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (isSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  uint32_t result = 0;
  for (; *text >= '0' && *text <= '9'; ++text) result = result * 10u + static_cast<uint32_t>(*text - '0');
  if (negative) result = 0u - result;
  value = static_cast<int32_t>(result);  // modular since C++20
}

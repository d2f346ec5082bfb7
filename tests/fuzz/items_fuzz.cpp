// libFuzzer target: NextItem and JoinPath never read or write outside
// exact-size buffers (the list, the item, the path), and what they produce
// holds together: every item is NUL-terminated inside its buffer, free of
// delimiters and taken from the list bytes the cursor passed; a join either
// leaves the path as it was or appends an optional backslash and the item,
// ended by two NULs inside the path's capacity.
//
// Input: item capacity (0 to 255), path capacity (1 to 256), length of the
// path's starting text, a flag byte (bit 0: the path buffer is filled
// without a terminator), the path's text, then the list.
#include <cstdint>
#include <cstring>
#include <vector>

#include "config/join_path.h"
#include "config/tokenizer.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

bool Contains(const char* from, const char* to, const char* text, size_t length) {
  for (const char* p = from; p + length <= to; ++p)
    if (std::memcmp(p, text, length) == 0) return true;
  return false;
}

void CheckJoin(const uint8_t* pathText, size_t pathTextLength, size_t pathCapacity,
               bool unterminated, const char* name) {
  ExactBlock path(nullptr, pathCapacity);
  std::memset(path.data, unterminated ? 'x' : 0, pathCapacity);
  if (!unterminated) {
    size_t n = pathTextLength < pathCapacity - 1 ? pathTextLength : pathCapacity - 1;
    std::memcpy(path.data, pathText, n);
  }
  std::vector<uint8_t> before(path.data, path.data + pathCapacity);
  char* text = reinterpret_cast<char*>(path.data);
  const bool joined = JoinPath(text, pathCapacity, name);
  if (!joined) {
    FUZZ_CHECK(SameBytes(before.data(), path.data, pathCapacity));
    return;
  }
  FUZZ_CHECK(!unterminated);
  const size_t oldLength = std::strlen(reinterpret_cast<const char*>(before.data()));
  const size_t nameLength = std::strlen(name);
  const size_t newLength = std::strlen(text);
  FUZZ_CHECK(newLength + 2 <= pathCapacity && path.data[newLength + 1] == 0);
  FUZZ_CHECK(std::memcmp(before.data(), path.data, oldLength) == 0);
  const size_t separator = newLength - oldLength - nameLength;
  FUZZ_CHECK(newLength >= oldLength + nameLength && separator <= 1);
  if (separator == 1) FUZZ_CHECK(oldLength > 0 && text[oldLength] == '\\');
  FUZZ_CHECK(std::memcmp(text + oldLength + separator, name, nameLength) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t itemCapacity = data[0];
  const size_t pathCapacity = size_t{data[1]} + 1;
  size_t pathTextLength = data[2];
  const bool unterminated = data[3] & 1;
  data += 4;
  size -= 4;
  if (pathTextLength > size) pathTextLength = size;
  const uint8_t* pathText = data;
  ExactBlock list(data + pathTextLength, size - pathTextLength);
  const char* const listStart = reinterpret_cast<const char*>(list.data);
  const char* const listEnd = listStart + list.size;

  ExactBlock item(nullptr, itemCapacity);
  const char* cursor = listStart;
  for (size_t taken = 0; taken <= list.size; ++taken) {
    const char* before = cursor;
    std::memset(item.data, 0x7F, itemCapacity);
    char* itemText = reinterpret_cast<char*>(item.data);
    if (!NextItem(itemText, itemCapacity, cursor, listEnd)) {
      FUZZ_CHECK(cursor >= before && cursor <= listEnd);
      FUZZ_CHECK(itemCapacity == 0 || item.data[0] == 0x7F);  // not written
      break;
    }
    FUZZ_CHECK(cursor > before && cursor <= listEnd);
    FUZZ_CHECK(currentDisc >= 0 && currentDisc <= 9);
    if (itemCapacity == 0) continue;
    const size_t length = strnlen(itemText, itemCapacity);
    FUZZ_CHECK(length < itemCapacity);
    for (size_t i = 0; i < length; ++i) FUZZ_CHECK(!IsItemDelimiter(item.data[i]));
    FUZZ_CHECK(Contains(before, cursor, itemText, length));
    CheckJoin(pathText, pathTextLength, pathCapacity, unterminated, itemText);
  }
  return 0;
}

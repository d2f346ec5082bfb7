// libFuzzer target: NextItem and JoinPath never read or write outside
// exact-size buffers (the list, the item, the path), and what they produce
// holds together: every item is NUL-terminated inside its buffer, free of
// delimiters and taken from the list bytes the cursor passed; a join either
// leaves the path as it was or appends an optional backslash and the item,
// ended by two NULs inside the path's capacity. The items, read as values
// of UPDATE.INI's lists, give update and copy items whose path is the value
// without its prefixes and whose entry name starts behind a real backslash,
// and lists that end at the first empty value and keep only this mode's items.
//
// Input: item capacity (0 to 255), path capacity (1 to 256), length of the
// path's starting text, a flag byte (bit 0: the path buffer is filled
// without a terminator; bits 1 to 3: the install mode), the path's text,
// then the list.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "config/join_path.h"
#include "config/tokenizer.h"
#include "config/update_items.h"
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

// The value without the prefixes that the parse took off: 0 or 2 bytes for
// the mode, then (copy values) 0 or 2 for the disc.
const char* WithoutPrefixes(const char* value, uint32_t mode, bool copy, bool& belongs,
                            int32_t& disc) {
  belongs = true;
  disc = 0;
  if (value[0] && value[1] == ',') {
    belongs = static_cast<uint32_t>(static_cast<unsigned char>(value[0]) - '0') == mode;
    value += 2;
  }
  if (copy && value[0] && value[1] == ':') {
    disc = value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : kNotADiscNumber;
    value += 2;
  }
  return value;
}

void CheckValue(const char* value, uint32_t mode) {
  bool belongs;
  int32_t disc;
  UpdateItem update;
  std::memset(&update, 0x7F, sizeof update);
  const char* path = WithoutPrefixes(value, mode, false, belongs, disc);
  FUZZ_CHECK(ParseUpdateValue(value, mode, update) == belongs);
  if (belongs) {
    FUZZ_CHECK(std::strcmp(update.path, path) == 0);
    // The name starts behind the last backslash that begins a character.
    size_t expected = 0;
    for (size_t i = 0; update.path[i];) {
      if (update.path[i] == '\\') expected = i + 1;
      i += IsCp932LeadByte(static_cast<unsigned char>(update.path[i])) && update.path[i + 1] ? 2 : 1;
    }
    FUZZ_CHECK(update.nameOffset == expected);
  }
  CopyItem copy;
  std::memset(&copy, 0x7F, sizeof copy);
  path = WithoutPrefixes(value, mode, true, belongs, disc);
  FUZZ_CHECK(ParseCopyValue(value, mode, copy) == belongs);
  if (belongs) FUZZ_CHECK(copy.disc == disc && std::strcmp(copy.path, path) == 0);
}

std::vector<std::string> listValues;

// Key "UpdateFileNN" or "CopyFileNN" reads value NN of the fuzzed list.
bool ReadListValue(void*, const char* key, char* value, size_t capacity) {
  FUZZ_CHECK(capacity == kPathCapacity);
  const char* digits = key + std::strlen(key) - 2;
  size_t n = static_cast<size_t>((digits[0] - '0') * 10 + digits[1] - '0');
  FUZZ_CHECK(n < kListKeys);
  if (n >= listValues.size() || listValues[n].empty()) return false;
  CopyText(value, capacity, listValues[n].c_str());
  return true;
}

void CheckLists(uint32_t mode) {
  UpdateLists lists;
  ReadUpdateLists(ReadListValue, nullptr, mode, lists);
  FUZZ_CHECK(lists.anyUpdateKey == (!listValues.empty() && !listValues[0].empty()));
  FUZZ_CHECK(lists.anyCopyKey == lists.anyUpdateKey);
  int updates = 0, copies = 0;
  for (size_t n = 0; n < listValues.size() && n < kListKeys && !listValues[n].empty(); ++n) {
    bool belongs;
    int32_t disc;
    const char* value = listValues[n].c_str();
    const char* path = WithoutPrefixes(value, mode, false, belongs, disc);
    if (belongs) FUZZ_CHECK(std::strcmp(lists.updates[updates++].path, path) == 0);
    path = WithoutPrefixes(value, mode, true, belongs, disc);
    if (belongs) FUZZ_CHECK(std::strcmp(lists.copies[copies++].path, path) == 0);
  }
  FUZZ_CHECK(lists.updateCount == updates && lists.copyCount == copies);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t itemCapacity = data[0];
  const size_t pathCapacity = size_t{data[1]} + 1;
  size_t pathTextLength = data[2];
  const bool unterminated = data[3] & 1;
  const uint32_t mode = (data[3] >> 1) & 7;
  data += 4;
  size -= 4;
  if (pathTextLength > size) pathTextLength = size;
  const uint8_t* pathText = data;
  ExactBlock list(data + pathTextLength, size - pathTextLength);
  const char* const listStart = reinterpret_cast<const char*>(list.data);
  const char* const listEnd = listStart + list.size;

  ExactBlock item(nullptr, itemCapacity);
  listValues.clear();
  const char* cursor = listStart;
  int32_t disc = -1;
  for (size_t taken = 0; taken <= list.size; ++taken) {
    const char* before = cursor;
    std::memset(item.data, 0x7F, itemCapacity);
    char* itemText = reinterpret_cast<char*>(item.data);
    if (!NextItem(itemText, itemCapacity, cursor, listEnd, &disc)) {
      FUZZ_CHECK(cursor >= before && cursor <= listEnd);
      FUZZ_CHECK(itemCapacity == 0 || item.data[0] == 0x7F);  // not written
      break;
    }
    FUZZ_CHECK(cursor > before && cursor <= listEnd);
    FUZZ_CHECK(disc == -1 || (disc >= 0 && disc <= 9));
    if (itemCapacity == 0) continue;
    const size_t length = strnlen(itemText, itemCapacity);
    FUZZ_CHECK(length < itemCapacity);
    for (size_t i = 0; i < length; ++i) FUZZ_CHECK(!IsItemDelimiter(item.data[i]));
    FUZZ_CHECK(Contains(before, cursor, itemText, length));
    CheckJoin(pathText, pathTextLength, pathCapacity, unterminated, itemText);
    CheckValue(itemText, mode);
    listValues.push_back(itemText);
  }
  CheckLists(mode);
  return 0;
}

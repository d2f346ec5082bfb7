#include "config/update_items.h"

#include <charconv>

#include "base/separators.h"
#include "config/tokenizer.h"
#include "resources/texts.h"

bool TakeModePrefix(const char*& value, uint32_t installMode) {
  if (value[0] == '\0' || value[1] != ',') return true;
  uint32_t mode = static_cast<uint32_t>(static_cast<unsigned char>(value[0]) - '0');
  value += 2;
  return mode == installMode;
}

int32_t TakeDiscPrefix(const char*& value) {
  int32_t disc = 0;
  if (value[0] == '\0' ||
      !DiscPrefix(static_cast<unsigned char>(value[0]), static_cast<unsigned char>(value[1]), disc))
    return 0;
  value += 2;
  return disc;
}

size_t NameOffset(const char* path) {
  // The script separates folders with backslashes only: a slash stays part of
  // the entry name, which no entry can have, so such an item fails to write
  // instead of writing some other entry.
  size_t last = LastSeparator(path, TextLength(path), kBackslash);
  return last == kNoSeparator ? 0 : last + 1;
}

bool ParseUpdateValue(const char* value, uint32_t installMode, UpdateItem& item) {
  if (!TakeModePrefix(value, installMode)) return false;
  CopyText(item.path, value);
  item.nameOffset = NameOffset(item.path);
  return true;
}

bool ParseCopyValue(const char* value, uint32_t installMode, CopyItem& item) {
  if (!TakeModePrefix(value, installMode)) return false;
  item.disc = TakeDiscPrefix(value);
  CopyText(item.path, value);
  return true;
}

namespace {

// One list: keys prefix00 to prefix15 until the first missing one; items of
// this install mode are kept. Returns the item count.
template <typename Item>
int ReadList(ReadListValue read, void* context, const char* prefix, uint32_t installMode,
             bool (*parse)(const char*, uint32_t, Item&), Item (&items)[kListKeys], bool& anyKey) {
  char key[16];
  char value[kPathCapacity];
  int count = 0;
  for (int n = 0; n < kListKeys; ++n) {
    const char number[3] = {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10), '\0'};
    CopyText(key, prefix);
    AppendText(key, number);
    if (!read(context, key, value, sizeof value)) break;
    anyKey = true;
    if (parse(value, installMode, items[count])) ++count;
  }
  return count;
}

}  // namespace

void ReadUpdateLists(ReadListValue read, void* context, uint32_t installMode, UpdateLists& lists) {
  lists = UpdateLists{};
  lists.updateCount = ReadList(read, context, "UpdateFile", installMode, ParseUpdateValue,
                               lists.updates, lists.anyUpdateKey);
  lists.copyCount = ReadList(read, context, "CopyFile", installMode, ParseCopyValue, lists.copies,
                             lists.anyCopyKey);
}

uint32_t SpaceShortfall(uint32_t required, uint64_t available) {
  // 4 GiB or more available is always enough for a 32-bit count.
  return required > available ? static_cast<uint32_t>(required - available) : 0;
}

bool PathDrive(const char* path, char (&drive)[3]) {
  unsigned char letter = static_cast<unsigned char>(path[0]);
  bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  if (!isLetter || path[1] != ':') return false;
  drive[0] = path[0];
  drive[1] = ':';
  drive[2] = '\0';
  return true;
}

void FormatShortageText(char* text, size_t capacity, const char* drive, uint32_t shortfall,
                        bool lineBreak) {
  char number[16] = {};
  std::to_chars(number, number + sizeof number - 1, shortfall);
  CopyText(text, capacity, kTextNoSpace);
  if (lineBreak) AppendText(text, capacity, "\r");
  AppendText(text, capacity, drive);
  AppendText(text, capacity, kTextNoSpaceDrive);
  AppendText(text, capacity, number);
  AppendText(text, capacity, kTextNoSpaceBytes);
}

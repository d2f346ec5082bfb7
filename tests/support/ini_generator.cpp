#include "tests/support/ini_generator.h"

#include <cctype>

namespace {

// A small deterministic generator (xorshift32), the same on every host.
struct Random {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
};

// Code page 932 pieces of text.
const char* const kDoubleByte[] = {
    "\x83\x5C",  // ソ, trail byte 0x5C
    "\x95\x5C",  // 表
    "\x94\x5C",  // 能
    "\x83\x5D",  // ゾ, trail byte ']'
    "\x83\x5B",  // ゼ, trail byte '['
    "\x82\xA0",  // あ
    "\x8E\x9A",  // 字
    "\x82\x60",  // Ａ (folds with ａ)
    "\x82\x81",  // ａ
    "\x83\x9F",  // Α
    "\x83\xBF",  // α
    "\x87\x54",  // Ⅰ
    "\xFA\x4A",  // Ⅰ of the IBM extensions: read back as 0x87 0x54
    "\x87\x90",  // ≒ of the NEC row: read back as 0x81 0xE0
    "\xED\x40",  // an IBM extension kanji in row 0xED: read back in row 0xFA
    "\xF0\x40",  // user-defined area
    "\x81\x40",  // full-width blank: not trimmed
};
const char* const kInvalid[] = {
    "\x85\x40",  // a row without characters
    "\x81\x20",  // lead byte before a blank
    "\x82\x7F",  // trail byte 0x7F
    "\x82\xFD",  // trail byte past 0xFC
    "\x81\x3D",  // lead byte before '='
    "\x82",      // lead byte at the end of its piece (the next byte joins it)
    "\x80", "\xA0", "\xFD", "\xFF",  // single bytes without a character
};
const char* const kAscii[] = {"abc", "X", "12", "C:\\GAME", "a b", "v=w", "[x]", ";c", "'", "\"",
                              "/", ",", "1,", "2:", "-"};
const char* const kHalfWidth[] = {"\xB1\xB2\xB3", "\xDE", "\xDF\xA1", "\xB6\xDE"};
const char* const kBlanks[] = {" ", "\t", "  ", "\x1A", "\x0B", "\x0C"};
const char* const kLineEnds[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", "\r\r\n", "\r\n\r\n"};
const char* const kSectionNames[] = {"SETUP", "UPDATE", "setup", "Update", "A",
                                     "\x90\xDD\x92\xE8" /* 設定 */, "\x83\x5C\x83\x74\x83\x67" /* ソフト */,
                                     "\xB1\xB2", "S 1", "\x83\x5D"};
const char* const kKeyNames[] = {"CompanyName", "GameTitle", "UpdateFile00", "UpdateFile01",
                                 "CopyFile00", "RequiredDiskSpace", "key", "KEY", "K",
                                 "\x95\x5C\x8E\xA6" /* 表示 */, "\x83\x5C", "\xB6\xB7", "a b",
                                 "\x82\x60", "\x82\x81"};

std::string Text(Random& random, size_t pieces) {
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    switch (random.Below(10)) {
      case 0: case 1: case 2: text += random.Pick(kDoubleByte); break;
      case 3: text += random.Pick(kInvalid); break;
      case 4: text += random.Pick(kHalfWidth); break;
      case 5: text += random.Pick(kBlanks); break;
      default: text += random.Pick(kAscii); break;
    }
  }
  return text;
}

std::string Blanks(Random& random) { return random.Chance(30) ? random.Pick(kBlanks) : ""; }

std::string Value(Random& random) {
  std::string value;
  switch (random.Below(8)) {
    case 0: return "";
    case 1: value = std::string(200 + random.Below(200), 'L'); break;  // past 259 bytes, or near
    case 2: {
      std::string kanji;
      size_t n = 120 + random.Below(20);
      for (size_t i = 0; i < n; ++i) kanji += i % 3 ? "\x95\x5C" : "a";
      value = kanji;  // double-byte characters across the cut at 259 bytes
      break;
    }
    default: value = Text(random, 1 + random.Below(6)); break;
  }
  if (random.Chance(20)) {
    const char* quote = random.Chance(50) ? "\"" : "'";
    value = quote + value + (random.Chance(80) ? quote : "");
  }
  return value;
}

std::string OtherCase(std::string name) {
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return name;  // leave double-byte names alone
    c = std::isupper(u) ? static_cast<char>(std::tolower(u)) : static_cast<char>(std::toupper(u));
  }
  return name;
}

}  // namespace

GeneratedIni GenerateIniFile(uint32_t seed) {
  Random random{seed * 2654435761u + 1};
  GeneratedIni out;
  std::vector<std::string> sections = {""}, keys;
  std::string& text = out.text;
  size_t lines = 5 + random.Below(30);
  for (size_t i = 0; i < lines; ++i) {
    uint32_t kind = random.Below(20);
    if (kind < 4) {
      std::string name = random.Pick(kSectionNames);
      sections.push_back(name);
      text += Blanks(random) + "[" + (random.Chance(15) ? " " : "") + name + "]";
      if (random.Chance(10)) text += "junk]";  // the last ']' ends the name
      if (random.Chance(5)) text.pop_back();   // no ']' at all
      text += Blanks(random);
    } else if (kind == 4) {
      text += Blanks(random);  // a blank line
    } else if (kind == 5) {
      text += ";" + Text(random, 2);  // a comment
    } else if (kind == 6) {
      text += random.Pick(kKeyNames);  // a key without '='
    } else if (kind == 7) {
      text += "=" + Value(random);  // a key without name
    } else if (kind == 8) {
      text += Text(random, 1 + random.Below(4));  // anything at all
    } else {
      std::string name = random.Pick(kKeyNames);
      keys.push_back(name);
      text += Blanks(random) + name + Blanks(random) + "=" + Blanks(random) + Value(random) +
              Blanks(random);
    }
    if (i + 1 < lines || random.Chance(70)) text += random.Pick(kLineEnds);
  }

  std::vector<std::string> lookupKeys = keys;
  lookupKeys.push_back("Absent");
  lookupKeys.push_back(random.Pick(kKeyNames));
  std::vector<std::string> lookupSections = sections;
  lookupSections.push_back("NoSuchSection");
  for (const std::string& section : lookupSections)
    for (const std::string& key : lookupKeys) {
      out.lookups.emplace_back(section, key);
      if (random.Chance(20)) out.lookups.emplace_back(OtherCase(section), OtherCase(key));
      if (random.Chance(10)) out.lookups.emplace_back(" " + section + "\t", " " + key + " ");
    }
  return out;
}

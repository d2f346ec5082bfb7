#include "config/ini_text.h"

#include <cstdint>
#include <cstring>

#include "base/bounded_text.h"

namespace {

// The double-byte characters of code page 932: for each lead byte, the
// ranges of trail bytes that have a character.
struct TrailRange {
  unsigned char lead, first, last;
};

constexpr TrailRange kCharacters[] = {
    {0x81, 0x40, 0x7E}, {0x81, 0x80, 0xAC}, {0x81, 0xB8, 0xBF}, {0x81, 0xC8, 0xCE},
    {0x81, 0xDA, 0xE8}, {0x81, 0xF0, 0xF7}, {0x81, 0xFC, 0xFC}, {0x82, 0x4F, 0x58},
    {0x82, 0x60, 0x79}, {0x82, 0x81, 0x9A}, {0x82, 0x9F, 0xF1}, {0x83, 0x40, 0x7E},
    {0x83, 0x80, 0x96}, {0x83, 0x9F, 0xB6}, {0x83, 0xBF, 0xD6}, {0x84, 0x40, 0x60},
    {0x84, 0x70, 0x7E}, {0x84, 0x80, 0x91}, {0x84, 0x9F, 0xBE}, {0x87, 0x40, 0x5D},
    {0x87, 0x5F, 0x75}, {0x87, 0x7E, 0x7E}, {0x87, 0x80, 0x9C}, {0x88, 0x9F, 0xFC},
    {0x98, 0x40, 0x72}, {0x98, 0x9F, 0xFC}, {0xEA, 0x40, 0x7E}, {0xEA, 0x80, 0xA4},
    {0xEE, 0x40, 0x7E}, {0xEE, 0x80, 0xEC}, {0xEE, 0xEF, 0xFC}, {0xFC, 0x40, 0x4B},
};

bool FullRow(unsigned char lead) {
  return (lead >= 0x89 && lead <= 0x97) || (lead >= 0x99 && lead <= 0x9F) ||
         (lead >= 0xE0 && lead <= 0xE9) || lead == 0xED || (lead >= 0xF0 && lead <= 0xFB);
}

// Index of a trail byte among the 188 of a row (0x40-0x7E, 0x80-0xFC).
int TrailIndex(unsigned char trail) { return trail - 0x40 - (trail > 0x7F ? 1 : 0); }
unsigned char TrailAt(int index) { return static_cast<unsigned char>(index + 0x40 + (index >= 0x3F ? 1 : 0)); }

// Characters with two codes come back from Unicode as one of them: the NEC
// copies of the mathematical signs, the IBM extensions in rows 0xED-0xEE,
// and the duplicates in row 0xFA.
uint16_t CanonicalCode(uint16_t code) {
  switch (code) {
    case 0x8790: return 0x81E0;
    case 0x8791: return 0x81DF;
    case 0x8792: return 0x81E7;
    case 0x8795: return 0x81E3;
    case 0x8796: return 0x81DB;
    case 0x8797: return 0x81DA;
    case 0x879A: return 0x81E6;
    case 0x879B: return 0x81BF;
    case 0x879C: return 0x81BE;
    case 0xFA54: return 0x81CA;
    case 0xFA58: return 0x878A;
    case 0xFA59: return 0x8782;
    case 0xFA5A: return 0x8784;
    case 0xFA5B: return 0x81E6;
    case 0xEEF9: return 0x81CA;
  }
  if (code >= 0xFA4A && code <= 0xFA53) return code - 0xFA4A + 0x8754;
  if (code >= 0xEEEF && code <= 0xEEF8) return code - 0xEEEF + 0xFA40;
  if (code >= 0xEEFA && code <= 0xEEFC) return code - 0xEEFA + 0xFA55;
  if (code >= 0xED40 && code <= 0xEEEC) {
    // The NEC-selected IBM extensions, in the order of rows 0xFA-0xFC from 0xFA5C.
    int index = ((code >> 8) - 0xED) * 188 + TrailIndex(code & 0xFF) + TrailIndex(0x5C);
    return static_cast<uint16_t>((0xFA + index / 188) << 8 | TrailAt(index % 188));
  }
  return code;
}

// One character as the system gives it back, and the line it starts on.
struct Unit {
  char bytes[2];
  unsigned char size;
  int line;
  bool Is(char c) const { return size == 1 && bytes[0] == c; }
};

bool IsBlank(const Unit& u) {
  if (u.size != 1) return false;
  unsigned char c = static_cast<unsigned char>(u.bytes[0]);
  return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20;
}

bool IsLineBreak(const Unit& u) { return u.Is('\r') || u.Is('\n'); }

// The bytes as characters, the way the system converts them to Unicode and
// back; line numbers count CR LF, a lone CR and a lone LF as one break each.
std::vector<Unit> DecodeUnits(const char* bytes, size_t size) {
  std::vector<int> lineAt(size + 1);
  int line = 1;
  for (size_t i = 0; i < size; ++i) {
    lineAt[i] = line;
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == size || bytes[i + 1] != '\n'))) ++line;
  }
  std::vector<Unit> units;
  units.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    Unit u{{bytes[i], 0}, 1, lineAt[i]};
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (IsCp932LeadByte(c)) {
      uint16_t code = 0x8145;  // U+30FB, what a pair without a character becomes
      if (i + 1 < size && bytes[i + 1] != '\0') {
        unsigned char trail = static_cast<unsigned char>(bytes[++i]);
        if (IsCp932Character(c, trail)) code = CanonicalCode(static_cast<uint16_t>(c << 8 | trail));
      }
      u.bytes[0] = static_cast<char>(code >> 8);
      u.bytes[1] = static_cast<char>(code & 0xFF);
      u.size = 2;
    }
    units.push_back(u);
  }
  return units;
}

// The text of units [first, last), up to a NUL (the system's strings end there).
std::string TextOf(const std::vector<Unit>& units, size_t first, size_t last) {
  std::string text;
  for (size_t i = first; i < last; ++i) {
    if (units[i].Is('\0')) break;
    text.append(units[i].bytes, units[i].size);
  }
  return text;
}

// A query name as the system sees it: converted like the file, blanks
// trimmed off both ends.
std::string QueryName(const char* name) {
  std::vector<Unit> units = DecodeUnits(name, std::strlen(name));
  size_t first = 0, last = units.size();
  while (first < last && IsBlank(units[first])) ++first;
  while (last > first && IsBlank(units[last - 1])) --last;
  return TextOf(units, first, last);
}

// The characters of a NUL-free code page 932 text, as byte lengths.
std::vector<size_t> CharacterSizes(const std::string& text) {
  std::vector<size_t> sizes;
  for (size_t i = 0; i < text.size();) {
    size_t n = IsCp932LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    sizes.push_back(n);
    i += n;
  }
  return sizes;
}

// Names are the same when they differ at most in the case of ASCII letters.
// The system folds no other letters here (not the full-width ones), and a
// double-byte character is compared whole, so its trail byte is never folded.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (IsCp932LeadByte(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
    if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool IsCp932Character(unsigned char lead, unsigned char trail) {
  if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
  if (FullRow(lead)) return true;
  for (const TrailRange& r : kCharacters)
    if (r.lead == lead && trail >= r.first && trail <= r.last) return true;
  return false;
}

IniText ParseIniText(const char* bytes, size_t size) {
  std::vector<Unit> units = DecodeUnits(bytes, size);
  IniText ini;
  ini.sections.emplace_back();
  bool havePrevious = false;  // a key before this one in the current section
  bool previousNamed = false;
  size_t next = 0;
  while (next < units.size()) {
    size_t first = next;
    while (next < units.size() && !IsLineBreak(units[next])) ++next;
    size_t last = next;
    while (next < units.size() && IsLineBreak(units[next])) ++next;
    while (first < last && IsBlank(units[first])) ++first;
    while (last > first && IsBlank(units[last - 1])) --last;
    if (first == last) continue;

    if (units[first].Is('[')) {
      size_t close = last;
      while (close > first && !units[close - 1].Is(']')) --close;
      if (close > first + 1) {  // a ']' after the '['
        size_t nameStart = first + 1, nameEnd = close - 1;
        while (nameStart < nameEnd && IsBlank(units[nameStart])) ++nameStart;
        while (nameEnd > nameStart && IsBlank(units[nameEnd - 1])) --nameEnd;
        IniTextSection section;
        section.name = TextOf(units, nameStart, nameEnd);
        section.line = units[first].line;
        ini.sections.push_back(std::move(section));
        havePrevious = false;
        continue;
      }
      // No ']': the line is read as a key.
    }

    IniTextKey key;
    key.line = units[first].line;
    size_t equals = first;
    while (equals < last && !units[equals].Is('=')) ++equals;
    size_t nameEnd = last;
    if (equals < last) {
      key.hasEquals = true;
      nameEnd = equals;
      while (nameEnd > first && IsBlank(units[nameEnd - 1])) --nameEnd;
      size_t valueStart = equals + 1;
      while (valueStart < last && IsBlank(units[valueStart])) ++valueStart;
      key.value = TextOf(units, valueStart, last);
    }
    // The system keeps one of several nameless lines in a row ("=x" lines).
    if (nameEnd == first && havePrevious && !previousNamed) continue;
    key.name = TextOf(units, first, nameEnd);
    previousNamed = !key.name.empty();
    havePrevious = true;
    ini.sections.back().keys.push_back(std::move(key));
  }
  return ini;
}

const IniTextSection* FindIniSection(const IniText& ini, const char* section) {
  std::string name = QueryName(section);
  for (const IniTextSection& s : ini.sections)
    if (SameName(s.name, name)) return &s;
  return nullptr;
}

bool SameIniName(const std::string& stored, const char* name) {
  return SameName(stored, QueryName(name));
}

const IniTextKey* FindIniKey(const IniText& ini, const char* section, const char* key) {
  // Only the first section of a name is searched.
  const IniTextSection* s = FindIniSection(ini, section);
  if (!s) return nullptr;
  std::string name = QueryName(key);
  for (const IniTextKey& k : s->keys)
    if (SameName(k.name, name)) return &k;
  return nullptr;
}

size_t ReadIniString(const IniText& ini, const char* section, const char* key, char* buffer,
                     size_t capacity) {
  if (capacity == 0) return 0;
  std::memset(buffer, 0, capacity);
  if (key[0] == '\0') return 0;
  const IniTextKey* found = FindIniKey(ini, section, key);
  if (!found || !found->hasEquals) return 0;

  // Quotes and the first cut work on characters, as the system does in Unicode.
  const std::string& value = found->value;
  std::vector<size_t> sizes = CharacterSizes(value);
  size_t start = 0;  // byte offset of the first character kept
  bool quoted = false;
  if (sizes.size() >= 2 && sizes.front() == 1 && (value[0] == '"' || value[0] == '\'') &&
      sizes.back() == 1 && value.back() == value[0]) {
    quoted = true;
    start = 1;
    sizes.erase(sizes.begin());
  }
  size_t count = sizes.size() < capacity - 1 ? sizes.size() : capacity - 1;
  // The closing quote goes when the text after the opening one fits the
  // capacity; when it fits exactly, the character before it goes instead.
  if (quoted && capacity >= sizes.size() && count > 0) --count;

  size_t bytes = 0;
  for (size_t i = 0; i < count; ++i) bytes += sizes[i];
  if (bytes + 1 <= capacity) {
    std::memcpy(buffer, value.data() + start, bytes);
    return bytes;
  }
  // Too long in bytes: the whole characters that fit capacity - 1 bytes.
  size_t kept = 0;
  for (size_t i = 0; i < count && kept + sizes[i] <= capacity - 1; ++i) kept += sizes[i];
  std::memcpy(buffer, value.data() + start, kept);
  return capacity - 1;
}

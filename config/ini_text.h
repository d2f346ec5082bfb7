// A portable reader of INI files that gives, for a section and a key, what
// the system's INI reader (GetPrivateProfileStringA with an empty default) gives
// on a code page 932 system, and knows the line of every key. The fa2 tool
// checks update scripts with it the way the updater will read them.
//
// The file is taken as code page 932 bytes, as the system takes a file
// without a byte-order mark. Like the system, the reader first turns the
// bytes into characters: a lead byte takes the next byte with it whatever it
// is (a CR or LF after a lead byte is no line break), and a pair that is no
// character becomes U+30FB (0x81 0x45) when the text comes back. Then:
// - lines end at any run of CR and LF; blanks (tab, LF, VT, FF, CR, 0x1A and
//   space; not the full-width space) are trimmed off both ends of a line;
// - "[name]" (up to the line's last ']', blanks trimmed) starts a section;
//   lines before the first header belong to a section without name;
// - a key is the text before the first '=', trimmed; its value the text
//   after, trimmed; a line without '=' is a key without value;
// - a lookup finds the first section of the name (a later section of the
//   same name is never searched) and in it the first key of the name (a key
//   without value still hides a later one), names compared without regard to
//   the case of ASCII letters (a-z only: the system folds no other letters);
// - a value in matching quotes ('x' or "x") loses them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct IniTextKey {
  std::string name;
  std::string value;  // the text as the system gives it back, before quotes are taken off
  bool hasEquals = false;
  int line = 0;  // 1-based line of the file, as an editor counts lines
};

struct IniTextSection {
  std::string name;  // empty for the part before the first header
  int line = 0;      // line of the header; 0 for the part before it
  std::vector<IniTextKey> keys;
};

struct IniText {
  std::vector<IniTextSection> sections;  // sections[0] is the part before any header
};

IniText ParseIniText(const char* bytes, size_t size);

inline IniText ParseIniText(const std::string& bytes) {
  return ParseIniText(bytes.data(), bytes.size());
}

// The section a lookup of section searches: the first of that name, or null.
const IniTextSection* FindIniSection(const IniText& ini, const char* section);

// True when a lookup of name finds a section or key of the name stored (a
// name as ParseIniText keeps it).
bool SameIniName(const std::string& stored, const char* name);

// The key a lookup of section and key finds, or null (no such section or
// key). A key without '=' is found like any other; its value reads as empty.
const IniTextKey* FindIniKey(const IniText& ini, const char* section, const char* key);

// What GetPrivateProfileStringA(section, key, "", buffer, capacity) leaves
// in a zero-filled buffer, and its result: the value without its quotes,
// cut as the system cuts it when it does not fit. The system cuts the text
// to capacity - 1 characters first and then to the whole characters that
// fit capacity - 1 bytes; when the second cut was needed the result is
// capacity - 1 whatever the text's length. 0 means missing (no key, no
// value, or an empty one). The buffer is zeroed first.
size_t ReadIniString(const IniText& ini, const char* section, const char* key, char* buffer,
                     size_t capacity);

// True when the byte pair lead, trail is a character of code page 932 (one
// that the system converts to Unicode and back); false for pairs without a
// character, which the system turns into U+30FB.
bool IsCp932Character(unsigned char lead, unsigned char trail);

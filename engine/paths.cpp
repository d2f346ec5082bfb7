#include "engine/paths.h"

#include <cstring>

#include "base/separators.h"
#include "package/entry_name.h"

namespace {

bool IsSeparatorByte(unsigned char c) { return c == '\\' || c == '/'; }
bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct Name {
  const char* text;
  size_t length;
};

// Every name takes at least one byte and a separator, so a path buffer holds
// no more names than this.
constexpr size_t kMaxNames = kPathCapacity / 2 + 1;

bool IsDots(const Name& name, size_t dots) {
  if (name.length != dots) return false;
  for (size_t i = 0; i < dots; ++i)
    if (name.text[i] != '.') return false;
  return true;
}

// The part of path that names its root and stays as it is ("C:\", "C:",
// "\\server\share", "\" or nothing), written to out; returns where the names
// begin. A period, a blank and a colon are never the second byte of a
// double-byte character, a backslash may be: only the walk over a share's
// names needs to step over characters.
size_t TakeRoot(const char* path, char (&out)[kPathCapacity], size_t* outLength) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  size_t at = 0, length = 0;
  if (IsAsciiLetter(p[0]) && p[1] == ':') {
    out[length++] = path[0];
    out[length++] = ':';
    at = 2;
    if (IsSeparatorByte(p[2])) out[length++] = '\\';
  } else if (IsSeparatorByte(p[0]) && IsSeparatorByte(p[1])) {
    // A share: the server's and the share's names belong to the root.
    out[length++] = '\\';
    out[length++] = '\\';
    at = 2;
    for (int part = 0; part < 2; ++part) {
      while (IsSeparatorByte(p[at])) ++at;
      if (p[at] == '\0') break;
      if (part == 1) out[length++] = '\\';
      while (p[at] != '\0' && !IsSeparatorByte(p[at]) && length + 2 < kPathCapacity) {
        bool pair = IsCp932LeadByte(p[at]) && p[at + 1] != '\0';
        out[length++] = path[at++];
        if (pair) out[length++] = path[at++];
      }
    }
  } else if (IsSeparatorByte(p[0])) {
    out[length++] = '\\';
  }
  *outLength = length;
  return at;
}

}  // namespace

bool NormalPath(const char* path, char (&out)[kPathCapacity]) {
  size_t length = 0;
  size_t at = TakeRoot(path, out, &length);
  bool rooted = length > 0;

  // The names, with "." and ".." resolved as the system resolves them.
  Name names[kMaxNames];
  size_t count = 0;
  bool endsInSeparator = false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  while (p[at] != '\0') {
    if (IsSeparatorByte(p[at])) {
      ++at;
      endsInSeparator = true;
      continue;
    }
    size_t start = at;
    while (p[at] != '\0' && !IsSeparatorByte(p[at]))
      at += IsCp932LeadByte(p[at]) && p[at + 1] != '\0' ? 2 : 1;
    endsInSeparator = false;
    Name name{path + start, at - start};
    if (IsDots(name, 1)) continue;
    if (IsDots(name, 2) && (count > 0 && !IsDots(names[count - 1], 2))) {
      --count;
      continue;
    }
    if (IsDots(name, 2) && rooted) continue;  // nothing above a root
    if (count == kMaxNames) return false;
    names[count++] = name;
  }

  // Then the trimming: a folder's name loses one period at its end, the last
  // name every period and blank at its end.
  for (size_t i = 0; i < count; ++i) {
    Name& name = names[i];
    bool last = i + 1 == count && !endsInSeparator;
    if (last) {
      while (name.length > 0 &&
             (name.text[name.length - 1] == '.' || name.text[name.length - 1] == ' '))
        --name.length;
    } else if (name.length > 0 && name.text[name.length - 1] == '.') {
      --name.length;
    }
  }

  // A drive-relative "C:NAME" keeps its form; every other root takes a
  // separator before its first name unless it ends in one.
  bool first = true;
  bool rootTakesSeparator =
      length > 0 && out[length - 1] != '\\' && !(length == 2 && out[1] == ':');
  for (size_t i = 0; i < count; ++i) {
    const Name& name = names[i];
    if (name.length == 0) continue;
    bool separator = !first || rootTakesSeparator;
    if (length + (separator ? 1 : 0) + name.length + 1 > kPathCapacity) {
      out[0] = '\0';
      return false;
    }
    if (separator) out[length++] = '\\';
    std::memcpy(out + length, name.text, name.length);
    length += name.length;
    first = false;
  }
  out[length] = '\0';
  return true;
}

namespace {

// The device names that the system finds in every folder, whatever follows
// them after a period.
bool IsDeviceName(const char* name) {
  size_t length = 0;
  while (name[length] != '\0' && name[length] != '.') ++length;
  while (length > 0 && name[length - 1] == ' ') --length;
  char base[8] = {};
  if (length < 3 || length > 7) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    base[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (!std::strcmp(base, device)) return true;
  return length == 4 && (!std::strncmp(base, "COM", 3) || !std::strncmp(base, "LPT", 3)) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

PathPlace ResolveInside(const char* root, const char* relative, char (&out)[kPathCapacity]) {
  char joined[2 * kPathCapacity];
  size_t rootLength = TextLength(root), relativeLength = TextLength(relative);
  if (rootLength + 1 + relativeLength + 1 > sizeof joined) return PathPlace::TooLong;
  std::memcpy(joined, root, rootLength);
  joined[rootLength] = '\\';
  std::memcpy(joined + rootLength + 1, relative, relativeLength + 1);
  if (!NormalPath(joined, out)) return PathPlace::TooLong;
  char normalRoot[kPathCapacity];
  if (!NormalPath(root, normalRoot) || !PathInside(normalRoot, out) || IsDeviceName(LastName(out)))
    return PathPlace::Outside;
  // A name that the trimming leaves ending in a period ("DATA.." gives
  // "DATA.") would be trimmed once more by every later use: another file.
  char again[kPathCapacity];
  if (!NormalPath(out, again) || std::strcmp(again, out) != 0) return PathPlace::Outside;
  return PathPlace::Inside;
}

bool PathInside(const char* root, const char* path) {
  size_t rootLength = TextLength(root);
  if (rootLength == 0 || rootLength >= kPathCapacity || TextLength(path) <= rootLength ||
      WholeCharacters(path, rootLength) != rootLength)
    return false;
  char prefix[kPathCapacity];
  std::memcpy(prefix, path, rootLength);
  prefix[rootLength] = '\0';
  if (!SameEntryName(prefix, root)) return false;
  const char* rest = path + rootLength;
  // Whether root ends in a separator is a question about its last character:
  // the second byte of a double-byte character may be a backslash.
  if (LastSeparator(root, rootLength, kBackslash) != rootLength - 1) {
    if (*rest != '\\') return false;
    ++rest;
  }
  if (*rest == '\0' || std::strpbrk(rest, "/:")) return false;
  for (const char* name = rest;;) {
    size_t length = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    while (p[length] != '\0' && p[length] != '\\')
      length += IsCp932LeadByte(p[length]) && p[length + 1] != '\0' ? 2 : 1;
    // A name ending in a period, or the last one in a blank, is not in
    // normal form: the system would trim it.
    bool last = name[length] == '\0';
    if (length == 0 || name[length - 1] == '.' || (last && name[length - 1] == ' ')) return false;
    if (last) return true;
    name += length + 1;
  }
}

size_t FolderLength(const char* path) {
  size_t last = LastSeparator(path, TextLength(path), kBackslash | kSlash | kDriveColon);
  return last == kNoSeparator ? 0 : last + 1;
}

const char* LastName(const char* path) { return path + FolderLength(path); }

void TemporaryName(char (&name)[16], const char* prefix, uint32_t value, size_t room) {
  static const char kHex[] = "0123456789ABCDEF";
  static const char kBase32[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  if (room >= 12) {
    for (size_t i = 0; i < 3; ++i) name[i] = prefix[i];
    for (size_t i = 0; i < 5; ++i) name[3 + i] = kHex[(value >> (4 * (4 - i))) & 15];
    std::memcpy(name + 8, ".TMP", 5);
    return;
  }
  if (room > 15) room = 15;
  for (size_t i = 0; i < room; ++i) {
    name[i] = i == 0 && room > 1 ? '~' : kBase32[value & 31];
    if (i > 0 || room == 1) value >>= 5;
  }
  name[room] = '\0';
}

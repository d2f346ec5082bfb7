// Paths of the installation in one normal form: the form the system itself
// resolves a path to before it opens anything. The update engine names every
// file by its normal form, in its journal too, so that two spellings of one
// file are one path and a path below the installation folder is known to be
// inside it. Code page 932 text, walked by characters: a double-byte
// character's second byte may be 0x5C and is never a separator. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"

// path as the system resolves it: '/' read as '\', runs of separators as one
// (a leading "\\" of a share kept), "." names dropped and ".." names taken away
// with the name before them (never above a drive's root or a share), then one
// period at the end of a folder's name dropped and every period and blank at
// the end of the last name, and no separator at the end unless the path is a
// drive's root. False when the result does not fit out.
bool NormalPath(const char* path, char (&out)[kPathCapacity]);

enum class PathPlace {
  Inside,   // below the folder by at least one name
  Outside,  // the folder itself, above or beside it, a device (CON, NUL...) or a stream
  TooLong,  // more than a path buffer holds
};

// relative joined onto root (as JoinPath joins them: a leading or doubled
// backslash of relative adds no level) in normal form, into out, and where
// that lies against root. A name that the system would not take as a name
// in a folder (".." left after the trimming, a colon) counts as outside, and
// so does a path that the system would trim once more ("DATA.." becomes
// "DATA.", then "DATA").
PathPlace ResolveInside(const char* root, const char* relative, char (&out)[kPathCapacity]);

// True when path, in normal form, lies below root, in normal form, by at
// least one name: root's characters (letter case aside, by the rule of
// SameEntryName), then a separator unless root ends in one, then names none
// of which is empty, ends in a period (".", ".." included), holds a colon or
// '/', or, as the last, ends in a blank.
bool PathInside(const char* root, const char* path);

// The length of path's folder part with its last separator ('\', '/', or the
// colon of a drive-relative "C:NAME"), 0 for a bare name; and what follows it.
size_t FolderLength(const char* path);
const char* LastName(const char* path);

// A temporary file's name for value: prefix (three bytes), five hex digits
// and ".TMP" where room allows 12 bytes, else room bytes ('~' and base-32
// digits, or one digit alone), so that it fits wherever a name of room bytes
// does.
void TemporaryName(char (&name)[16], const char* prefix, uint32_t value, size_t room);

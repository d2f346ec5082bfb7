// What the update run decides without asking the system: the items of the
// update and copy lists of UPDATE.INI's section "UPDATE", their prefixes,
// the package entry name of an update item, and the free-space shortage and
// its text. Portable; the run's dialog, file and shell calls stay in
// wizard/update_run_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"

constexpr int kListKeys = 16;  // UpdateFile00 ... UpdateFile15, the same for CopyFile

// One file to write from the package: path relative to the installation
// folder, and where in it the base name (the package entry's name) begins.
struct UpdateItem {
  char path[kPathCapacity];
  size_t nameOffset;
};

// One file or folder to copy: disc 0 means no disc search; path is relative
// to the disc's root.
struct CopyItem {
  int32_t disc;
  char path[kPathCapacity];
};

// Takes an optional mode prefix ("1," : install mode 1) off value. False when
// the value belongs to another install mode; a value without the prefix
// belongs to every mode.
bool TakeModePrefix(const char*& value, uint32_t installMode);

// Takes an optional disc prefix ("2:", DiscPrefix's rule) off value and
// returns the disc number, 0 without a prefix. A non-digit before the colon
// gives kNotADiscNumber: the run refuses such an item (a copy failure)
// rather than copy it from somewhere the script did not name.
int32_t TakeDiscPrefix(const char*& value);

// Where the base name of path begins: behind its last backslash, or 0. The
// second byte of a double-byte character (which may be 0x5C) and a slash are
// never separators.
size_t NameOffset(const char* path);

// An update-list or copy-list value as the run reads it. False when the item
// belongs to another install mode (item then untouched).
bool ParseUpdateValue(const char* value, uint32_t installMode, UpdateItem& item);
bool ParseCopyValue(const char* value, uint32_t installMode, CopyItem& item);

// Both lists of one run and whether any key of each was there at all.
struct UpdateLists {
  UpdateItem updates[kListKeys];
  int updateCount;
  bool anyUpdateKey;
  CopyItem copies[kListKeys];
  int copyCount;
  bool anyCopyKey;
};

// Reads the value of key into value (capacity bytes, terminated); false when
// the key is missing or its value is empty.
using ReadListValue = bool (*)(void* context, const char* key, char* value, size_t capacity);

// Fills lists from scratch through read (values of at most kPathCapacity - 1
// bytes): "UpdateFile%02i" and "CopyFile%02i" for 00 to 15, each list ending
// at its first missing or empty key; values of another install mode are
// skipped and the following keys still read.
void ReadUpdateLists(ReadListValue read, void* context, uint32_t installMode, UpdateLists& lists);

// How many bytes are missing when required bytes must fit in available
// (0 when they fit; equal is enough).
uint32_t SpaceShortfall(uint32_t required, uint64_t available);

// The drive ("C:") of a path that begins with an ASCII letter and a colon;
// false for any other path, which has no drive to ask about.
bool PathDrive(const char* path, char (&drive)[3]);

// The shortage text for a drive that lacks shortfall bytes. The wizard's
// status line breaks it into two lines (lineBreak); a message box wraps it
// itself.
void FormatShortageText(char* text, size_t capacity, const char* drive, uint32_t shortfall,
                        bool lineBreak);

template <size_t N>
void FormatShortageText(char (&text)[N], const char* drive, uint32_t shortfall, bool lineBreak) {
  FormatShortageText(text, N, drive, shortfall, lineBreak);
}

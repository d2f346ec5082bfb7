// The update run that the wizard starts on its confirmation page: the space
// check, writing the listed package entries into the installation, copying
// files or folders from a CD-ROM, and the completed, shortage or failed end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"

enum class UpdateOutcome { Shortage, Completed, Failed };

// The run, inside the wizard's Next handler. Leaves the dialog showing the
// shortage or the completed state, or ends it with -1 after a failure. The
// wizard does not need the outcome; tests do.
UpdateOutcome RunUpdate(HWND dialog);

enum ShellCopyResult { ShellCopyDone = 0, ShellCopyFailed = 1, ShellCopyAborted = 2 };

// Copies source (a file or a folder, as a double-NUL list) to destination
// with the shell's progress window, then clears the read-only attribute
// that a file from a disc brings along on destination.
int ShellCopy(HWND owner, const char* source, const char* destination, bool sourceIsFolder);

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

// Takes an optional disc prefix ("2:") off value and returns the disc number:
// the prefix's byte minus '0', so a non-digit gives a number outside 0 to 9.
// 0 without a prefix.
int32_t TakeDiscPrefix(const char*& value);

// Where the base name of path begins: behind its last backslash, or 0. The
// second byte of a double-byte character (which may be 0x5C) and a slash are
// never separators.
size_t NameOffset(const char* path);

// An update-list or copy-list value as the run reads it. False when the item
// belongs to another install mode (item then untouched).
bool ParseUpdateValue(const char* value, uint32_t installMode, UpdateItem& item);
bool ParseCopyValue(const char* value, uint32_t installMode, CopyItem& item);

// How many bytes are missing when required bytes must fit in available
// (0 when they fit; equal is enough).
uint32_t SpaceShortfall(uint32_t required, uint64_t available);

// The space check of the run for the drive of installPath. True, with the
// status text to show in text, when the drive lacks room; false when there is
// room, required is 0, or no free-space figure can be had (installPath does
// not begin with a drive letter and a colon, or both queries fail).
bool CheckDiskSpace(uint32_t required, const char* installPath, char (&text)[kTextCapacity]);

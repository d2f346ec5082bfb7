// The update run that the wizard starts on its confirmation page: the space
// check, writing the listed package entries into the installation, copying
// files or folders from a CD-ROM, and the completed, shortage or failed end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"
#include "config/update_items.h"

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

// The space check of the run for the drive of installPath. True, with the
// status text to show in text, when the drive lacks room; false when there is
// room, required is 0, or no free-space figure can be had (installPath does
// not begin with a drive letter and a colon, or both queries fail).
bool CheckDiskSpace(uint32_t required, const char* installPath, char (&text)[kTextCapacity]);

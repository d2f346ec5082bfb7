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

// The wizard's Cancel while the run goes on: aborts a copy from a disc
// (whose Cancel button is enabled while it runs); ignored at other times.
void RequestCopyCancel(HWND dialog);

// The space check of the run for the drive of installPath. True, with the
// status text to show in text, when the drive lacks room; false when there is
// room, required is 0, or no free-space figure can be had (installPath does
// not begin with a drive letter and a colon, or both queries fail).
bool CheckDiskSpace(uint32_t required, const char* installPath, char (&text)[kTextCapacity]);

// The one process-wide record through which the parts of the updater share
// what start-up has learnt: the package, the extracted script, the game's
// identity, the installation, the caption and the owner of error boxes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/bounded_text.h"
#include "package/fa2_format.h"

struct UpdaterState {
  HINSTANCE instance;
  const uint8_t* packageBytes;  // the package as it lies in the resource
  uint32_t packageSize;
  UpdatePackage* package;       // from OpenPackage; freed by CleanUp
  PackageEntry* entries;        // package->entries
  const uint8_t* entryDigests;  // each entry's SHA-256, when the updater carries them
  char tempIniPath[kPathCapacity];
  char companyName[kPathCapacity];
  char gameTitle[kPathCapacity];
  char gameClass[kPathCapacity];
  char gameDir[kPathCapacity];
  char gameTitleA[kPathCapacity];
  char installVersion[kPathCapacity];
  uint32_t quiet;               // set once: missing INI keys are not reported
  char installPath[kPathCapacity];
  uint32_t installMode;
  char setupIniPath[kPathCapacity];
  char caption[kTextCapacity];  // "UPDATE" until the launcher names the window
  HWND mainWindow;              // the wizard while it exists; owner of error boxes
};

extern UpdaterState updaterState;

// Puts the record back to its state at process start (all zero, caption
// "UPDATE"). The program never needs it; tests do, between cases.
void ResetUpdaterState();

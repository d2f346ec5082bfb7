// The installation's SETUP.INI, loaded and validated. The updater itself
// uses only the game's identity (written to updaterState) and the disc check
// files; everything else is loaded so that a malformed description is refused.
#pragma once

#include <cstdint>

#include "base/bounded_text.h"

constexpr int kMaxSetupBmps = 20;
constexpr int kMaxSelects = 3;
constexpr int kMaxSelectFiles = 40;
constexpr int kMaxShortcuts = 10;
constexpr int kShortcutItems = 3;
constexpr int kDiscCount = 10;  // disc numbers 0 to 9
constexpr int kMaxUninstallFiles = 20;

struct InstallDescription {
  char gameExe[kPathCapacity];
  char uninstExe[kPathCapacity];
  char setupBmps[kMaxSetupBmps][kPathCapacity];
  int32_t setupBmpLast;  // item count - 1; kept as it was with 20 or more items
  int32_t installSelects;
  char installTitles[kMaxSelects][kPathCapacity];
  char installFiles[kMaxSelects][kMaxSelectFiles][kPathCapacity];
  int32_t installFileDiscs[kMaxSelects][kMaxSelectFiles];  // 0: no disc
  uint32_t selectNeedsDisc[kMaxSelects];
  int32_t shortcutCount;
  char shortcuts[kMaxShortcuts][kShortcutItems][kPathCapacity];
  int32_t defaultSelect;
  uint64_t installSizes[kMaxSelects];
  char diskCheckFiles[kDiscCount][kPathCapacity];  // entry d belongs to disc d
  char execApp[2][kPathCapacity];
  uint32_t directXFlags;
  char installDXMessage[kTextCapacity];
  char selectSetupMessage[kTextCapacity];
  char additionalUninstallFiles[kMaxUninstallFiles][kPathCapacity];
  int32_t additionalUninstallCount;
};

extern InstallDescription installDescription;

// Back to the state at process start (all zero). For tests.
void ResetInstallDescription();

// Loads section "SETUP" of updaterState.setupIniPath into installDescription
// and the identity fields of updaterState. Returns 1 when all of it loaded and
// is valid, 0 at the first problem (reported by a box where it has its own
// message); nothing stored before a failure is undone.
int LoadInstallDescription();

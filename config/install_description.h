// The installation's SETUP.INI, loaded and validated. The updater itself
// uses only the game's identity (written to updaterState) and the disc check
// files; everything else is loaded so that a malformed description is refused.
// The loading rules are portable (LoadRequiredSetup, LoadOptionalSetup), so
// that fa2 check --setup holds a SETUP.INI to exactly the updater's rules;
// LoadInstallDescription runs them on the installation's file and shows the
// updater's boxes.
#pragma once

#include <cstddef>
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

// Reads key of SETUP.INI's section "SETUP" into buffer, zeroing the whole
// capacity first; true when the key has a value (a value cut at capacity - 1
// still counts), false with the buffer all zero.
using ReadSetupKey = bool (*)(void* context, const char* key, char* buffer, size_t capacity);

// Why loading stopped: the first problem, as the updater meets it.
enum class SetupProblem {
  None,
  KeyMissing,         // a required key is missing or empty (key names it)
  ListError,          // a list or pair without its items (key names it)
  SetupBmpsError,     // SetupBmp holds no item
  InstallSelectOver,  // InstallSelects above kMaxSelects
  ShortcutsOver,      // Shortcuts above kMaxShortcuts
};

// One load: where values come from and go to, and how it ended. The
// identity buffers hold kPathCapacity bytes each.
struct SetupLoad {
  ReadSetupKey read;
  void* context;
  InstallDescription* description;
  char* companyName;
  char* gameTitle;
  char* gameDir;
  char* gameClass;
  SetupProblem problem = SetupProblem::None;
  char key[32] = {};  // the key of a KeyMissing or ListError problem
};

// The keys every SETUP.INI needs and the lists they hold: true when all are
// there and valid, else false with load.problem. Nothing stored before a
// problem is undone.
bool LoadRequiredSetup(SetupLoad& load);

// The optional keys, each with its default when missing; false only for an
// ExecApp without its two items.
bool LoadOptionalSetup(SetupLoad& load);

// The updater's text for a problem other than KeyMissing (whose text is
// kTextKeyMissing with "SETUP.INI" and the key): a format with one %s for the
// key (kTextSetupListError), or a text without one.
const char* SetupProblemText(SetupProblem problem);

// Back to the state at process start (all zero). For tests.
void ResetInstallDescription();

// Loads section "SETUP" of updaterState.setupIniPath into installDescription
// and the identity fields of updaterState. Returns 1 when all of it loaded and
// is valid, 0 at the first problem (reported by a box where it has its own
// message); nothing stored before a failure is undone.
int LoadInstallDescription();

#include "config/install_description.h"

#include <cstring>

#include "base/system.h"
#include "app/updater_state.h"
#include "config/error_boxes.h"
#include "config/ini_access.h"
#include "config/tokenizer.h"
#include "resources/texts.h"

InstallDescription installDescription{};

void ResetInstallDescription() { std::memset(&installDescription, 0, sizeof installDescription); }

namespace {

// The loader's working buffers. A list read with a smaller capacity than the
// scratch buffer is split only up to that capacity: the bytes behind it may
// still hold an earlier, longer list.
struct Buffers {
  char scratch[kTextCapacity];
  char key[kTextCapacity];
  char message[kTextCapacity];
};

void ShowListError(Buffers& b, const char* key) {
  FormatText(b.message, kTextSetupListError, key);
  ShowConfigError(b.message);
}

// Splits a list read into b.scratch into items, at most max of them, and
// empties the item behind the last one taken when there is one. discs, when
// given, receives each item's disc. Returns how many items were taken.
int SplitList(Buffers& b, char (*items)[kPathCapacity], int max, int32_t* discs) {
  const char* cursor = b.scratch;
  // Each list starts without a disc; a prefix carries over to the items
  // after it in the same list only.
  int32_t disc = 0;
  for (int i = 0; i < max; ++i) {
    if (!NextItem(items[i], cursor, b.scratch + kTextCapacity, &disc)) {
      items[i][0] = '\0';
      return i;
    }
    if (discs) discs[i] = disc;
  }
  return max;
}

bool ReadRequiredValues() {
  InstallDescription& d = installDescription;
  return ReadSetupValue("CompanyName", updaterState.companyName, kPathCapacity) &&
         ReadSetupValue("GameTitle", updaterState.gameTitle, kPathCapacity) &&
         ReadSetupValue("GameDir", updaterState.gameDir, kPathCapacity) &&
         ReadSetupValue("GameExe", d.gameExe, kPathCapacity) &&
         ReadSetupValue("UninstExe", d.uninstExe, kPathCapacity);
}

bool ReadSetupBmps(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupValue("SetupBmp", b.scratch, kTextCapacity)) return false;
  int count = SplitList(b, d.setupBmps, kMaxSetupBmps, nullptr);
  if (count == 0) {
    ShowConfigError(kTextSetupBmpsError);
    return false;
  }
  if (count < kMaxSetupBmps) d.setupBmpLast = count - 1;
  return true;
}

bool ReadSelections(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupInt("InstallSelects", d.installSelects)) return false;
  if (d.installSelects > kMaxSelects) {
    ShowConfigError(kTextInstallSelectOver);
    return false;
  }
  for (int i = 0; i < d.installSelects; ++i) {
    FormatText(b.key, "InstallTitle%i", i);
    if (!ReadSetupValue(b.key, d.installTitles[i], kPathCapacity)) return false;
    FormatText(b.key, "InstallFiles%i", i);
    if (!ReadSetupValue(b.key, b.scratch, kTextCapacity)) return false;
    d.selectNeedsDisc[i] = 0;
    int count = SplitList(b, d.installFiles[i], kMaxSelectFiles, d.installFileDiscs[i]);
    if (count == 0) {
      ShowListError(b, b.key);
      return false;
    }
    for (int j = 0; j < count; ++j)
      if (d.installFileDiscs[i][j] != 0) d.selectNeedsDisc[i] = 1;
  }
  return true;
}

bool ReadShortcuts(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupInt("Shortcuts", d.shortcutCount)) return false;
  if (d.shortcutCount > kMaxShortcuts) {
    ShowConfigError(kTextShortcutsOver);
    return false;
  }
  for (int i = 0; i < d.shortcutCount; ++i) {
    FormatText(b.key, "Shortcut%i", i);
    if (!ReadSetupValue(b.key, b.scratch, kPathCapacity)) return false;
    const char* cursor = b.scratch;
    const char* end = b.scratch + kPathCapacity;
    if (!NextItem(d.shortcuts[i][0], cursor, end) || !NextItem(d.shortcuts[i][1], cursor, end)) {
      ShowListError(b, b.key);
      return false;
    }
    if (!NextItem(d.shortcuts[i][2], cursor, end)) d.shortcuts[i][2][0] = '\0';
  }
  return true;
}

bool ReadExecApp(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupValue("ExecApp", b.scratch, kPathCapacity)) {
    d.execApp[0][0] = '\0';
    return true;
  }
  const char* cursor = b.scratch;
  const char* end = b.scratch + kPathCapacity;
  if (!NextItem(d.execApp[0], cursor, end) || !NextItem(d.execApp[1], cursor, end)) {
    ShowListError(b, "ExecApp");
    return false;
  }
  return true;
}

void ReadDirectXFlags() {
  int32_t value;
  if (!ReadSetupInt("InstallDirectX", value)) {
    installDescription.directXFlags = 0;
    return;
  }
  uint32_t flags = 0x00010000;        // the runtime
  if (value & 1) flags |= 0x00000008;  // display drivers
  if (value & 2) flags |= 0x00000010;  // sound drivers
  installDescription.directXFlags = flags;
}

void ReadOptionalValues(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupValue("GameClass", updaterState.gameClass, kPathCapacity))
    CopyText(updaterState.gameClass, updaterState.gameTitle);

  if (!ReadSetupInt("DefaultSelect", d.defaultSelect)) d.defaultSelect = 0;

  for (int i = 0; i < d.installSelects; ++i) {
    FormatText(b.key, "InstallSize%i", i);
    int32_t size;
    // The size is the 32-bit value read as unsigned: "-1" is 2^32 - 1.
    d.installSizes[i] = ReadSetupInt(b.key, size) ? static_cast<uint32_t>(size) : 0;
  }

  for (int disc = 0; disc < kDiscCount; ++disc) {
    FormatText(b.key, "DiskCheckFile%i", disc);
    ReadSetupValue(b.key, d.diskCheckFiles[disc], kPathCapacity);  // empty when missing
  }
}

void ReadTextsAndUninstallFiles(Buffers& b) {
  InstallDescription& d = installDescription;
  if (!ReadSetupValue("InstallDXMessage", d.installDXMessage, kTextCapacity))
    CopyText(d.installDXMessage, kTextInstallDXDefault);
  if (!ReadSetupValue("SelectSetupMessage", d.selectSetupMessage, kTextCapacity))
    CopyText(d.selectSetupMessage, kTextSelectSetupDefault);

  if (ReadSetupValue("AdditionalUninstallFiles", b.scratch, kTextCapacity))
    d.additionalUninstallCount =
        SplitList(b, d.additionalUninstallFiles, kMaxUninstallFiles, nullptr);
}

}  // namespace

int LoadInstallDescription() {
  Buffers b;
  if (!ReadRequiredValues() || !ReadSetupBmps(b) || !ReadSelections(b) || !ReadShortcuts(b))
    return 0;
  // Every key from here on is optional: a missing one is never reported.
  updaterState.quiet = 1;
  ReadOptionalValues(b);
  if (!ReadExecApp(b)) return 0;
  ReadDirectXFlags();
  ReadTextsAndUninstallFiles(b);
  return 1;
}

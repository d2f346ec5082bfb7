// The loading rules of SETUP.INI, portable: the updater runs them on the
// installation's file (install_description_win32.cpp), fa2 check --setup on
// the file a publisher names.
#include "config/install_description.h"

#include "config/tokenizer.h"
#include "resources/texts.h"

namespace {

constexpr size_t kIntCapacity = 20;  // at most 19 characters of a number are seen

// The loader's working buffers. A list read with a smaller capacity than the
// scratch buffer is split only up to that capacity: the bytes behind it may
// still hold an earlier, longer list.
struct Buffers {
  char scratch[kTextCapacity];
  char key[32];
};

// stem and a number 0 to 9 ("InstallTitle2"), as the updater names its keys.
const char* NumberedKey(Buffers& b, const char* stem, int number) {
  const char digit[2] = {static_cast<char>('0' + number), '\0'};
  CopyText(b.key, stem);
  AppendText(b.key, digit);
  return b.key;
}

bool Fail(SetupLoad& load, SetupProblem problem, const char* key = "") {
  load.problem = problem;
  CopyText(load.key, key);
  return false;
}

// A key that must be there; a missing one ends the load.
bool ReadRequired(SetupLoad& load, const char* key, char* buffer, size_t capacity) {
  return load.read(load.context, key, buffer, capacity) ||
         Fail(load, SetupProblem::KeyMissing, key);
}

// A key read as a decimal integer; value untouched when it is missing.
bool ReadInt(SetupLoad& load, const char* key, int32_t& value) {
  char text[kIntCapacity];
  if (!load.read(load.context, key, text, sizeof text)) return false;
  ParseDecimal(text, value);
  return true;
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

bool ReadRequiredValues(SetupLoad& load) {
  InstallDescription& d = *load.description;
  return ReadRequired(load, "CompanyName", load.companyName, kPathCapacity) &&
         ReadRequired(load, "GameTitle", load.gameTitle, kPathCapacity) &&
         ReadRequired(load, "GameDir", load.gameDir, kPathCapacity) &&
         ReadRequired(load, "GameExe", d.gameExe, kPathCapacity) &&
         ReadRequired(load, "UninstExe", d.uninstExe, kPathCapacity);
}

bool ReadSetupBmps(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!ReadRequired(load, "SetupBmp", b.scratch, kTextCapacity)) return false;
  int count = SplitList(b, d.setupBmps, kMaxSetupBmps, nullptr);
  if (count == 0) return Fail(load, SetupProblem::SetupBmpsError, "SetupBmp");
  if (count < kMaxSetupBmps) d.setupBmpLast = count - 1;
  return true;
}

bool ReadSelections(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!ReadInt(load, "InstallSelects", d.installSelects))
    return Fail(load, SetupProblem::KeyMissing, "InstallSelects");
  if (d.installSelects > kMaxSelects)
    return Fail(load, SetupProblem::InstallSelectOver, "InstallSelects");
  for (int i = 0; i < d.installSelects; ++i) {
    if (!ReadRequired(load, NumberedKey(b, "InstallTitle", i), d.installTitles[i], kPathCapacity))
      return false;
    const char* key = NumberedKey(b, "InstallFiles", i);
    if (!ReadRequired(load, key, b.scratch, kTextCapacity)) return false;
    d.selectNeedsDisc[i] = 0;
    int count = SplitList(b, d.installFiles[i], kMaxSelectFiles, d.installFileDiscs[i]);
    if (count == 0) return Fail(load, SetupProblem::ListError, key);
    for (int j = 0; j < count; ++j)
      if (d.installFileDiscs[i][j] != 0) d.selectNeedsDisc[i] = 1;
  }
  return true;
}

bool ReadShortcuts(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!ReadInt(load, "Shortcuts", d.shortcutCount))
    return Fail(load, SetupProblem::KeyMissing, "Shortcuts");
  if (d.shortcutCount > kMaxShortcuts) return Fail(load, SetupProblem::ShortcutsOver, "Shortcuts");
  for (int i = 0; i < d.shortcutCount; ++i) {
    const char* key = NumberedKey(b, "Shortcut", i);
    if (!ReadRequired(load, key, b.scratch, kPathCapacity)) return false;
    const char* cursor = b.scratch;
    const char* end = b.scratch + kPathCapacity;
    if (!NextItem(d.shortcuts[i][0], cursor, end) || !NextItem(d.shortcuts[i][1], cursor, end))
      return Fail(load, SetupProblem::ListError, key);
    if (!NextItem(d.shortcuts[i][2], cursor, end)) d.shortcuts[i][2][0] = '\0';
  }
  return true;
}

bool ReadExecApp(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!load.read(load.context, "ExecApp", b.scratch, kPathCapacity)) {
    d.execApp[0][0] = '\0';
    return true;
  }
  const char* cursor = b.scratch;
  const char* end = b.scratch + kPathCapacity;
  if (!NextItem(d.execApp[0], cursor, end) || !NextItem(d.execApp[1], cursor, end))
    return Fail(load, SetupProblem::ListError, "ExecApp");
  return true;
}

void ReadDirectXFlags(SetupLoad& load) {
  int32_t value;
  if (!ReadInt(load, "InstallDirectX", value)) {
    load.description->directXFlags = 0;
    return;
  }
  uint32_t flags = 0x00010000;         // the runtime
  if (value & 1) flags |= 0x00000008;  // display drivers
  if (value & 2) flags |= 0x00000010;  // sound drivers
  load.description->directXFlags = flags;
}

void ReadOptionalValues(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!load.read(load.context, "GameClass", load.gameClass, kPathCapacity))
    CopyText(load.gameClass, kPathCapacity, load.gameTitle);

  if (!ReadInt(load, "DefaultSelect", d.defaultSelect)) d.defaultSelect = 0;

  for (int i = 0; i < d.installSelects; ++i) {
    int32_t size;
    // The size is the 32-bit value read as unsigned: "-1" is 2^32 - 1.
    d.installSizes[i] =
        ReadInt(load, NumberedKey(b, "InstallSize", i), size) ? static_cast<uint32_t>(size) : 0;
  }

  for (int disc = 0; disc < kDiscCount; ++disc)  // empty when missing
    load.read(load.context, NumberedKey(b, "DiskCheckFile", disc), d.diskCheckFiles[disc],
              kPathCapacity);
}

void ReadTextsAndUninstallFiles(SetupLoad& load, Buffers& b) {
  InstallDescription& d = *load.description;
  if (!load.read(load.context, "InstallDXMessage", d.installDXMessage, kTextCapacity))
    CopyText(d.installDXMessage, kTextInstallDXDefault);
  if (!load.read(load.context, "SelectSetupMessage", d.selectSetupMessage, kTextCapacity))
    CopyText(d.selectSetupMessage, kTextSelectSetupDefault);

  if (load.read(load.context, "AdditionalUninstallFiles", b.scratch, kTextCapacity))
    d.additionalUninstallCount =
        SplitList(b, d.additionalUninstallFiles, kMaxUninstallFiles, nullptr);
}

}  // namespace

bool LoadRequiredSetup(SetupLoad& load) {
  Buffers b;
  return ReadRequiredValues(load) && ReadSetupBmps(load, b) && ReadSelections(load, b) &&
         ReadShortcuts(load, b);
}

bool LoadOptionalSetup(SetupLoad& load) {
  Buffers b;
  ReadOptionalValues(load, b);
  if (!ReadExecApp(load, b)) return false;
  ReadDirectXFlags(load);
  ReadTextsAndUninstallFiles(load, b);
  return true;
}

const char* SetupProblemText(SetupProblem problem) {
  switch (problem) {
    case SetupProblem::None:
      return "";
    case SetupProblem::KeyMissing:
      return kTextKeyMissing;
    case SetupProblem::ListError:
      return kTextSetupListError;
    case SetupProblem::SetupBmpsError:
      return kTextSetupBmpsError;
    case SetupProblem::InstallSelectOver:
      return kTextInstallSelectOver;
    case SetupProblem::ShortcutsOver:
      return kTextShortcutsOver;
  }
  return "";
}

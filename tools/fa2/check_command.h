// fa2 check: finds a publisher's mistakes in a package's update script
// (UPDATE.INI) before a player meets them, reading the script by the rules
// the updater uses. Findings print as compilers print them:
// "UPDATE.INI:LINE: error: KEY: what" (or "warning:").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/package_writer.h"

struct ScriptFinding {
  int line = 0;
  bool error = false;  // else a warning
  std::string key;     // the key or [section] the finding is about; may be empty
  std::string what;    // host text (UTF-8)
};

// One entry of the package the script goes with: its code page 932 name and
// its original size.
struct ScriptEntry {
  std::string name;
  uint32_t size = 0;
};

// The findings for script (the bytes of UPDATE.INI) in a package with these
// entries, in line order.
std::vector<ScriptFinding> CheckUpdateScript(const std::string& script,
                                             const std::vector<ScriptEntry>& entries);

// The findings for the UPDATE.INI of a package held in memory. False, with
// the reason in problem, when the package cannot be read or holds no
// UPDATE.INI.
bool CheckPackageScript(const uint8_t* bytes, size_t size, std::vector<ScriptFinding>* findings,
                        std::string* problem);

// "UPDATE.INI:12: error: UpdateFile03: ..." with a line break.
std::string FindingLine(const ScriptFinding& finding);

// "UPDATE.INI: 1 error, 2 warnings" with a line break.
std::string FindingSummary(const std::vector<ScriptFinding>& findings);

// The errors among findings.
size_t CountErrors(const std::vector<ScriptFinding>& findings);

// What fa2 create says about the files it packs: when one of them is
// UPDATE.INI, its findings and their summary on stderr. The findings never
// stop the packing (make-updater refuses a package with errors).
void ReportPackedScript(const std::vector<PackageInput>& inputs);

// fa2 check [--warnings-as-errors] PACKAGE, args without the command: exit
// code 0 without errors, 1 with errors (or warnings under
// --warnings-as-errors) or when the package cannot be read, 2 wrong usage.
int CheckCommand(const std::vector<std::string>& args);

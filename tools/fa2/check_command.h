// fa2 check: finds a publisher's mistakes in a package's update script
// (UPDATE.INI) before a player meets them, reading the script by the rules
// the updater uses, and with --setup holds it against the installation's
// SETUP.INI (setup_check.h). Findings print as compilers print them:
// "UPDATE.INI:LINE: error: KEY: what" (or "warning:").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/fa2_format.h"

struct ScriptFinding {
  std::string file = "UPDATE.INI";  // the file the line belongs to
  int line = 0;
  bool error = false;  // else a warning
  std::string key;     // the key or [section] the finding is about; may be empty
  std::string what;    // host text (UTF-8)
};

struct SetupFacts;

// The findings for script (the bytes of UPDATE.INI) in a package with this
// directory, in line order. With setup, the items are also held against the
// installation's SETUP.INI: its install selections and its discs.
std::vector<ScriptFinding> CheckUpdateScript(const std::string& script,
                                             const UpdatePackage* package,
                                             const SetupFacts* setup = nullptr);

// What a check found, as it prints.
struct CheckReport {
  std::vector<ScriptFinding> findings;  // the script's in line order, then SETUP.INI's
  std::string lines;                    // one line per finding
  std::string summary;                  // "UPDATE.INI: 1 error, 2 warnings" and a line break
};

// Checks the UPDATE.INI of the package read from path and, when setupPath is
// not empty, the SETUP.INI there against it. Fails (tool_errors.h) when the
// package cannot be read or holds no UPDATE.INI, or SETUP.INI cannot be read.
CheckReport CheckPackage(const std::vector<uint8_t>& package, const std::string& path,
                         const std::string& setupPath);

// "UPDATE.INI:12: error: UpdateFile03: ..." with a line break.
std::string FindingLine(const ScriptFinding& finding);

// The errors among findings.
size_t CountErrors(const std::vector<ScriptFinding>& findings);

// What fa2 create says about the package it made: when it holds UPDATE.INI,
// the findings and their summary on stderr. They never stop the packing
// (make-updater refuses a package with errors).
void ReportPackedScript(const std::vector<uint8_t>& package, const std::string& path);

// fa2 check [--warnings-as-errors] [--setup SETUP.INI] PACKAGE, args without
// the command: exit code 0 without errors, 1 with errors (or warnings under
// --warnings-as-errors) or when a file cannot be read, 2 wrong usage.
int CheckCommand(const std::vector<std::string>& args);

// fa2 make-updater: an updater from a prebuilt stub and a package.
#pragma once

#include <string>
#include <vector>

// The command's arguments (after "make-updater"); the exit code: 0 made,
// 1 a file could not be used (one line "fa2: WHAT: problem"), 2 wrong usage.
int MakeUpdaterCommand(const std::vector<std::string>& args);

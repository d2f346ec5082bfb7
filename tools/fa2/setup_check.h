// fa2 check --setup: the installation's SETUP.INI, read by the updater's own
// loading rules (config/install_description.h), and held against the update
// script that is meant for it.
#pragma once

#include <string>
#include <vector>

#include "config/install_description.h"
#include "tools/fa2/check_command.h"

// What the script's items are held against: the install modes the
// installation can have and the discs it can tell apart.
struct SetupFacts {
  int installModes = 1;  // install modes 0 to installModes - 1
  bool discHasCheckFile[kDiscCount] = {};
};

// The findings about setup (the bytes of SETUP.INI, named file in them)
// against script (the bytes of UPDATE.INI): a SETUP.INI the updater refuses,
// with the updater's message, and a CompanyName or GameDir other than the
// script's. True, with facts filled, when the updater would load it.
bool CheckSetupIni(const std::string& setup, const std::string& file, const std::string& script,
                   std::vector<ScriptFinding>* findings, SetupFacts* facts);

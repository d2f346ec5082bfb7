#include "config/install_description.h"

#include <cstring>

#include "base/system.h"
#include "app/updater_state.h"
#include "config/error_boxes.h"
#include "config/ini_access.h"
#include "resources/texts.h"

InstallDescription installDescription{};

void ResetInstallDescription() { std::memset(&installDescription, 0, sizeof installDescription); }

namespace {

// The installation's SETUP.INI through the updater's INI reader, which
// reports a missing key with its box until updaterState.quiet is set.
bool ReadFromSetupIni(void*, const char* key, char* buffer, size_t capacity) {
  return ReadSetupValue(key, buffer, capacity) != 0;
}

// The box of a problem the reader has not reported already.
void ShowSetupProblem(const SetupLoad& load) {
  if (load.problem == SetupProblem::KeyMissing) return;
  char message[kTextCapacity];
  FormatText(message, SetupProblemText(load.problem), load.key);
  ShowConfigError(message);
}

}  // namespace

int LoadInstallDescription() {
  UpdaterState& s = updaterState;
  SetupLoad load{ReadFromSetupIni, nullptr,   &installDescription, s.companyName,
                 s.gameTitle,      s.gameDir, s.gameClass};
  bool loaded = LoadRequiredSetup(load);
  if (loaded) {
    // Every key from here on is optional: a missing one is never reported.
    updaterState.quiet = 1;
    loaded = LoadOptionalSetup(load);
  }
  if (!loaded) ShowSetupProblem(load);
  return loaded ? 1 : 0;
}

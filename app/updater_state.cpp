#include "app/updater_state.h"
#include "resources/texts.h"

#include <cstring>

UpdaterState updaterState = [] {
  UpdaterState s{};
  CopyText(s.caption, kTextInitialCaption);
  return s;
}();

void ResetUpdaterState() {
  std::memset(&updaterState, 0, sizeof updaterState);
  CopyText(updaterState.caption, kTextInitialCaption);
}

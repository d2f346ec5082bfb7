#include "app/updater_state.h"

#include <cstring>

UpdaterState updaterState = [] {
  UpdaterState s{};
  CopyText(s.caption, "UPDATE");
  return s;
}();

void ResetUpdaterState() {
  std::memset(&updaterState, 0, sizeof updaterState);
  CopyText(updaterState.caption, "UPDATE");
}

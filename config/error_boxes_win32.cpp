#include "config/error_boxes.h"

#include "base/system.h"
#include "app/updater_state.h"
#include "resources/texts.h"

namespace {

// A box after the wizard has ended must stand alone: the handle may still be
// recorded but the window is gone.
HWND BoxOwner() {
  HWND owner = updaterState.mainWindow;
  return owner && IsWindow(owner) ? owner : nullptr;
}

}  // namespace

void ShowConfigError(const char* text) {
  SysMessageBox(BoxOwner(), text, kTextConfigCaption, MB_ICONERROR | MB_OK);
}

void ShowUpdateError(const char* text) {
  SysMessageBox(BoxOwner(), text, updaterState.caption, MB_ICONERROR | MB_OK);
}

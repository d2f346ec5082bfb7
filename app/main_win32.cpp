// The program's entry point. The command line and the show-window request
// are not used.
#include <windows.h>

#include "app/run_updater.h"
#include "base/system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL on the program's behalf.
  SysRestrictDllSearch();
  return RunUpdater(instance);
}

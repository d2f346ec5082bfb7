// The program's entry point. The command line and the show-window request
// are not used.
#include <windows.h>

#include "app/run_updater.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return RunUpdater(instance); }

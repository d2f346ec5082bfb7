// The updater's main function: from the package in the program's resources
// to the identification of the installation, the running-program checks,
// the wizard, the exit code and the clean-up.
#pragma once

#include <windows.h>

#include <cstdint>

// The whole program. Returns the exit code: 1 after a completed update,
// 0 in every other case. Every way out runs CleanUp.
int RunUpdater(HINSTANCE instance);

// The locked bytes of resource (type, id) of module and their size, or none
// when the resource is missing, empty or cannot be loaded.
const uint8_t* FindPackageResource(HINSTANCE instance, int id, const char* type,
                                   uint32_t* size);

// Frees the opened package and deletes the temporary UPDATE.INI (also when
// it was never written or its path is still empty).
void CleanUp();

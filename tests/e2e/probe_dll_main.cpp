// A DLL that only says it was loaded: copied beside an updater under the
// names of DLLs that programs and the system load at run time, it leaves
// "PROBE-LOADED-<its file name>-BY-<the program's file name>.TXT" in the
// folder it lies in as soon as a process maps it. The planted-dlls scenario
// fails when one names the updater.
#include <windows.h>

namespace {

// The file name part of a module's path, into name (capacity 40).
bool ModuleName(HMODULE module, wchar_t (&name)[40]) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const wchar_t* last = path + length;
  while (last > path && last[-1] != L'\\') --last;
  lstrcpynW(name, last, 40);
  return true;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 120], dll[40], program[40];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !ModuleName(self, dll) || !ModuleName(nullptr, program))
    return TRUE;
  wchar_t* folderEnd = path + length;
  while (folderEnd > path && folderEnd[-1] != L'\\') --folderEnd;
  lstrcpyW(folderEnd, L"PROBE-LOADED-");
  lstrcatW(folderEnd, dll);
  lstrcatW(folderEnd, L"-BY-");
  lstrcatW(folderEnd, program);
  lstrcatW(folderEnd, L".TXT");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

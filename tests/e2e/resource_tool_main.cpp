// Writes, replaces or removes the update package resource (type "UPDATE",
// id 102) of an updater executable. The end-to-end tests use it for the
// packages that a publisher's tool rightly refuses to embed: damaged ones,
// empty ones, ones without the update script, and none at all.
//
//   e2e_resource.exe EXE set FILE     embed FILE as the package
//   e2e_resource.exe EXE delete       remove the package resource
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadWholeFile(const wchar_t* path, std::string& data) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  return true;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool set = argc == 4 && std::wstring(argv[2]) == L"set";
  bool remove = argc == 3 && std::wstring(argv[2]) == L"delete";
  if (!set && !remove) {
    fprintf(stderr, "usage: e2e_resource EXE set FILE | EXE delete\n");
    return 2;
  }
  std::string data;
  if (set && !ReadWholeFile(argv[3], data)) {
    fprintf(stderr, "e2e_resource: cannot read the package\n");
    return 1;
  }
  // Whatever language the existing package resource has, it goes first, so
  // that the executable ends up with exactly one package (or none).
  std::vector<WORD> languages;
  if (HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    EnumResourceLanguagesW(module, L"UPDATE", MAKEINTRESOURCEW(102), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    FreeLibrary(module);
  }
  HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
  if (!update) {
    fprintf(stderr, "e2e_resource: cannot open the executable (error %lu)\n", GetLastError());
    return 1;
  }
  BOOL done = TRUE;
  for (WORD language : languages)
    done = done && UpdateResourceW(update, L"UPDATE", MAKEINTRESOURCEW(102), language, nullptr, 0);
  if (set) {
    // An empty file gives a resource of size 0 (data given, no bytes).
    static char nothing = 0;
    done = done && UpdateResourceW(update, L"UPDATE", MAKEINTRESOURCEW(102),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                   data.empty() ? &nothing : data.data(),
                                   static_cast<DWORD>(data.size()));
  }
  if (!EndUpdateResourceW(update, !done) || !done) {
    fprintf(stderr, "e2e_resource: cannot write the resource (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}

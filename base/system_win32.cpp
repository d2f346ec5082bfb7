#include "base/system.h"

#include <shlwapi.h>

#include <cstdarg>

#include "base/bounded_text.h"

int SysMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  return MessageBoxA(owner, text, caption, type);
}
BOOL SysSetWindowText(HWND window, const char* text) { return SetWindowTextA(window, text); }
BOOL SysSetDlgItemText(HWND dialog, int id, const char* text) {
  return SetDlgItemTextA(dialog, id, text);
}
HWND SysFindWindow(const char* className, const char* title) {
  return FindWindowA(className, title);
}

DWORD SysGetFileAttributes(const char* path) { return GetFileAttributesA(path); }
BOOL SysSetFileAttributes(const char* path, DWORD attributes) {
  return SetFileAttributesA(path, attributes);
}
HANDLE SysCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD attributes) {
  return CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
}
BOOL SysDeleteFile(const char* path) { return DeleteFileA(path); }
BOOL SysMoveFileReplace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
UINT SysGetDriveType(const char* root) { return GetDriveTypeA(root); }
DWORD SysGetTempPath(char* buffer, DWORD capacity) { return GetTempPathA(capacity, buffer); }
DWORD SysGetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                 char* buffer, DWORD capacity, const char* file) {
  return GetPrivateProfileStringA(section, key, fallback, buffer, capacity, file);
}

int FormatTextV(char* buffer, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return 0;
  // wvnsprintfA follows wsprintf's rules and never writes past its size;
  // on overflow it may return -1 with a cut, terminated text.
  int n = wvnsprintfA(buffer, static_cast<int>(capacity), format, args);
  buffer[capacity - 1] = '\0';
  if (n < 0 || static_cast<size_t>(n) >= capacity - 1) {
    // Possibly cut: never end on the first byte of a double-byte character.
    size_t length = WholeCharacters(buffer, TextLength(buffer));
    buffer[length] = '\0';
    n = static_cast<int>(length);
  }
  return n;
}

int FormatText(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatTextV(buffer, capacity, format, args);
  va_end(args);
  return n;
}

HMODULE SysLoadLibrary(const char* name) { return LoadLibraryA(name); }
BOOL SysGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) {
  return GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

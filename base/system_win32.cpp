#include "base/system.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdarg>

#include "base/bounded_text.h"
#include "base/separators.h"

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
INT_PTR SysDialogBox(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure,
                     LPARAM parameter) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, procedure, parameter);
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
bool SysCreateTempFile(const char* folder, const char* prefix, char* path) {
  return GetTempFileNameA(folder, prefix, 0, path) != 0;
}

namespace {
bool SystemLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }
}  // namespace

bool SysGetModuleFolder(char* folder, size_t capacity) {
  if (capacity == 0) return false;
  DWORD length = GetModuleFileNameA(nullptr, folder, static_cast<DWORD>(capacity));
  // A path that fills the buffer may have been cut.
  if (length == 0 || length >= capacity) {
    folder[0] = '\0';
    return false;
  }
  // Cut at the last backslash, the only separator the system writes here.
  // The name comes from the system in its own ANSI code page, so here
  // (unlike in the script's texts) the system's lead-byte rule is the right
  // one.
  size_t cut = LastSeparator(folder, length, kBackslash, SystemLeadByte);
  folder[cut == kNoSeparator ? 0 : cut] = '\0';
  return true;
}

int SysShellCopy(HWND owner, const char* from, const char* to, unsigned flags, bool* aborted) {
  SHFILEOPSTRUCTA operation{};
  operation.hwnd = owner;
  operation.wFunc = FO_COPY;
  operation.pFrom = from;
  operation.pTo = to;
  operation.fFlags = static_cast<FILEOP_FLAGS>(flags);
  int result = SHFileOperationA(&operation);
  *aborted = operation.fAnyOperationsAborted != FALSE;
  return result;
}
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
HRSRC SysFindResource(HMODULE module, int id, const char* type) {
  return FindResourceA(module, MAKEINTRESOURCEA(id), type);
}

LONG SysRegOpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key) {
  return RegOpenKeyExA(root, subKey, 0, access, key);
}
LONG SysRegQueryValue(HKEY key, const char* name, void* data, DWORD* size) {
  return RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(data), size);
}
bool SysRegQueryText(HKEY key, const char* name, char* buffer, size_t capacity) {
  if (capacity == 0) return false;
  DWORD size = static_cast<DWORD>(capacity);
  if (SysRegQueryValue(key, name, buffer, &size) != ERROR_SUCCESS) {
    buffer[0] = '\0';
    buffer[capacity - 1] = '\0';
    return false;
  }
  buffer[size < capacity ? size : capacity - 1] = '\0';
  return true;
}
BOOL SysGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) {
  return GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

BOOL SysMoveFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH);
}
BOOL SysCreateDirectory(const char* path) { return CreateDirectoryA(path, nullptr); }
BOOL SysRemoveDirectory(const char* path) { return RemoveDirectoryA(path); }
BOOL SysCreateHardLink(const char* link, const char* existing) {
  return CreateHardLinkA(link, existing, nullptr);
}
BOOL SysGetFileAttributesEx(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return GetFileAttributesExA(path, GetFileExInfoStandard, data);
}
HANDLE SysFindFirstFile(const char* pattern, WIN32_FIND_DATAA* found) {
  return FindFirstFileA(pattern, found);
}
BOOL SysFindNextFile(HANDLE search, WIN32_FIND_DATAA* found) {
  return FindNextFileA(search, found);
}

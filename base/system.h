// The thin layer between the updater and the Win32 calls that take text or
// paths. Every such call goes through one of these functions, so that how
// text is handed to the system (today: the ANSI "A" functions, which take
// code page 932 on a Japanese system) can change in this one place.
#pragma once

#include <windows.h>

#include <cstddef>

int SysMessageBox(HWND owner, const char* text, const char* caption, UINT type);
BOOL SysSetWindowText(HWND window, const char* text);
BOOL SysSetDlgItemText(HWND dialog, int id, const char* text);
HWND SysFindWindow(const char* className, const char* title);

DWORD SysGetFileAttributes(const char* path);
BOOL SysSetFileAttributes(const char* path, DWORD attributes);
HANDLE SysCreateFile(const char* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD attributes);
BOOL SysDeleteFile(const char* path);
BOOL SysMoveFileReplace(const char* from, const char* to);
UINT SysGetDriveType(const char* root);
DWORD SysGetTempPath(char* buffer, DWORD capacity);
DWORD SysGetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                 char* buffer, DWORD capacity, const char* file);

// Formats by the platform's wsprintf rules into buffer (capacity bytes,
// terminator included); the result is cut, never overrun. Returns the length.
int FormatText(char* buffer, size_t capacity, const char* format, ...);
int FormatTextV(char* buffer, size_t capacity, const char* format, va_list args);
template <size_t N>
int FormatText(char (&buffer)[N], const char* format, auto... args) {
  return FormatText(buffer, N, format, args...);
}

HMODULE SysLoadLibrary(const char* name);
BOOL SysGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters);

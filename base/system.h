// The thin layer between the updater and the Win32 calls that take text or
// paths. Every such call goes through one of these functions. The updater's
// texts and paths are code page 932 bytes; these functions hand them to the
// system's UTF-16 ("W") calls converted from code page 932 explicitly, never
// through the system's own ANSI code page, so the updater behaves the same on
// a Japanese and on any other Windows.
//
// Text the system hands back (the temporary folder, the program's folder, a
// registry text) is taken only when code page 932 holds it exactly: a folder
// that it cannot spell is taken in its short (8.3) form where the volume
// keeps one, else the call fails. A text that does not convert (longer than
// the updater's buffers) makes the call fail as a missing file would.
#pragma once

#include <windows.h>

#include <cstddef>

int SysMessageBox(HWND owner, const char* text, const char* caption, UINT type);
BOOL SysSetWindowText(HWND window, const char* text);
BOOL SysSetDlgItemText(HWND dialog, int id, const char* text);
HWND SysFindWindow(const char* className, const char* title);
INT_PTR SysDialogBox(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure,
                     LPARAM parameter);

DWORD SysGetFileAttributes(const char* path);
BOOL SysSetFileAttributes(const char* path, DWORD attributes);
BOOL SysDeleteFile(const char* path);
UINT SysGetDriveType(const char* root);
DWORD SysGetTempPath(char* buffer, DWORD capacity);
// Creates a new, empty file with a unique name (prefix, then a number, ".TMP")
// in folder and writes its path to path, which holds MAX_PATH bytes.
bool SysCreateTempFile(const char* folder, const char* prefix, char* path);
// The folder that holds the running program: its path up to the last
// backslash, which is left out ("C:" for a program in a drive's root).
// False, with folder empty, when the path does not fit capacity bytes.
bool SysGetModuleFolder(char* folder, size_t capacity);
// GetPrivateProfileString's results on a code-page-932 system, on every
// system: the file is read as code page 932 text unless it starts with a
// byte order mark, through a UTF-16 copy in the temporary folder, so that
// the system's own parsing rules apply. The copy is made once per file and
// contents and kept for the next lookups until SysForgetIniCopies. A file
// of more than 1 MiB (no real INI file) is not read: every lookup fails.
DWORD SysGetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                 char* buffer, DWORD capacity, const char* file);
// Deletes the UTF-16 copies of SysGetPrivateProfileString.
void SysForgetIniCopies();

// Formats by the platform's wsprintf rules into buffer (capacity bytes,
// terminator included); the result is cut, never overrun. Returns the length.
int FormatText(char* buffer, size_t capacity, const char* format, ...);
int FormatTextV(char* buffer, size_t capacity, const char* format, va_list args);
template <size_t N>
int FormatText(char (&buffer)[N], const char* format, auto... args) {
  return FormatText(buffer, N, format, args...);
}

// Loads the system DLL called name (a bare file name) from the system
// folder, whatever the search path says; nullptr when it cannot.
HMODULE SysLoadLibrary(const char* name);
// The function name of the system DLL dll, loaded by SysLoadLibrary (and
// kept loaded); nullptr when the system lacks either. The one way the
// program looks up system functions at run time.
void* SysSystemFunction(const char* dll, const char* name);
// The program's first act: DLLs are searched for in the system folder only,
// never in the program's own folder, where a Downloads folder may hold
// planted ones, nor in the current one.
void SysRestrictDllSearch();
// Turns on the system's redirection guard for the process where it has one
// (Windows 10 22H2 and later): from then on the process follows no junction
// or symbolic link that a user without an administrator's rights made.
void SysGuardAgainstRedirection();
// FindResource with a numeric id and a named type.
HRSRC SysFindResource(HMODULE module, int id, const char* type);

LONG SysRegOpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key);
// Reads a value of any type into data (size bytes at most); size receives the
// stored length. Text values come as code page 932 (as RegQueryValueExA gives
// them on a Japanese system), values of other types as stored. The stored bytes are taken as they are: a text value need
// not end in a NUL.
LONG SysRegQueryValue(HKEY key, const char* name, void* data, DWORD* size);
// Reads a value as text into buffer and always leaves it terminated inside
// capacity, whatever type and length the stored value has: the registry does
// not promise a NUL behind the stored bytes, and a value that fills the whole
// buffer loses its last byte to the terminator. False when the value is
// missing or longer than capacity. A text value that code page 932 cannot
// hold (a path with such characters) is taken in its short (8.3) form when
// it names a file or folder that has one, else false.
bool SysRegQueryText(HKEY key, const char* name, char* buffer, size_t capacity);
BOOL SysGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters);
// GetDiskFreeSpaceExW, looked up at run time (it is missing on the oldest
// systems), called with root.
using SysFreeSpaceExFunction = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                             PULARGE_INTEGER);
BOOL SysCallFreeSpaceEx(SysFreeSpaceExFunction function, const char* root,
                        ULARGE_INTEGER* available, ULARGE_INTEGER* total, ULARGE_INTEGER* free);

// Dialog fonts. Face names are UTF-16 here, as in a dialog template. True
// when a font of this face with the Shift-JIS character set is installed.
bool SysJapaneseFontInstalled(const wchar_t* face);
// The face of some installed font with the Shift-JIS character set (not a
// vertical "@" face), written to face; false when there is none.
bool SysAnyJapaneseFont(wchar_t (&face)[LF_FACESIZE]);
INT_PTR SysDialogBoxIndirect(HINSTANCE instance, const void* dialogTemplate, HWND owner,
                             DLGPROC procedure, LPARAM parameter);

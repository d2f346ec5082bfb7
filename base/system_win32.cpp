#include "base/system.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstring>

#include "base/bounded_text.h"
#include "base/crc32.h"
#include "base/separators.h"
#include "base/wide_text_win32.h"

namespace {

// Paths the system hands back, up to this many characters: even the short
// form of a longer one would hardly fit the updater's 260-byte buffers.
constexpr DWORD kWidePathCapacity = 4096;

// A path from the system as code page 932 text: as it is, or in its short
// (8.3) form when code page 932 cannot spell it. False when neither fits.
bool PathToCodePage932(const wchar_t* path, char* text, size_t capacity) {
  if (ToCodePage932(path, -1, text, capacity)) return true;
  static wchar_t shortPath[kWidePathCapacity];
  DWORD n = GetShortPathNameW(path, shortPath, kWidePathCapacity);
  return n > 0 && n < kWidePathCapacity && ToCodePage932(shortPath, -1, text, capacity);
}

}  // namespace

int SysMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  Wide wideText(text), wideCaption(caption);
  if (!wideText.ok || !wideCaption.ok) return 0;
  return MessageBoxW(owner, wideText.text, wideCaption.text, type);
}
BOOL SysSetWindowText(HWND window, const char* text) {
  Wide wide(text);
  return wide.ok && SetWindowTextW(window, wide.text);
}
BOOL SysSetDlgItemText(HWND dialog, int id, const char* text) {
  Wide wide(text);
  return wide.ok && SetDlgItemTextW(dialog, id, wide.text);
}
HWND SysFindWindow(const char* className, const char* title) {
  Wide wideClass(className), wideTitle(title);
  if (!wideClass.ok || !wideTitle.ok) return nullptr;
  return FindWindowW(wideClass.text, wideTitle.text);
}
INT_PTR SysDialogBox(HINSTANCE instance, int templateId, HWND owner, DLGPROC procedure,
                     LPARAM parameter) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, procedure, parameter);
}
INT_PTR SysDialogBoxIndirect(HINSTANCE instance, const void* dialogTemplate, HWND owner,
                             DLGPROC procedure, LPARAM parameter) {
  return DialogBoxIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner,
                                 procedure, parameter);
}

DWORD SysGetFileAttributes(const char* path) {
  Wide wide(path);
  return wide.ok ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
}
BOOL SysSetFileAttributes(const char* path, DWORD attributes) {
  Wide wide(path);
  return wide.ok && SetFileAttributesW(wide.text, attributes);
}
BOOL SysDeleteFile(const char* path) {
  Wide wide(path);
  return wide.ok && DeleteFileW(wide.text);
}
UINT SysGetDriveType(const char* root) {
  Wide wide(root);
  return wide.ok ? GetDriveTypeW(wide.text) : DRIVE_UNKNOWN;
}
DWORD SysGetTempPath(char* buffer, DWORD capacity) {
  static wchar_t wide[kWidePathCapacity];
  DWORD n = GetTempPathW(kWidePathCapacity, wide);
  if (n == 0 || n >= kWidePathCapacity || !PathToCodePage932(wide, buffer, capacity)) {
    if (capacity > 0) buffer[0] = '\0';
    return 0;
  }
  return static_cast<DWORD>(TextLength(buffer));
}
bool SysCreateTempFile(const char* folder, const char* prefix, char* path) {
  Wide wideFolder(folder), widePrefix(prefix);
  wchar_t created[MAX_PATH];
  if (!wideFolder.ok || !widePrefix.ok ||
      GetTempFileNameW(wideFolder.text, widePrefix.text, 0, created) == 0) {
    path[0] = '\0';
    return false;
  }
  // The folder converted exactly and the name is ASCII: the path converts.
  if (!ToCodePage932(created, -1, path, MAX_PATH)) {
    DeleteFileW(created);
    return false;
  }
  return true;
}

bool SysGetModuleFolder(char* folder, size_t capacity) {
  if (capacity == 0) return false;
  static wchar_t wide[kWidePathCapacity];
  DWORD n = GetModuleFileNameW(nullptr, wide, kWidePathCapacity);
  // The whole path must fit, as a path buffer of the updater holds it.
  if (n == 0 || n >= kWidePathCapacity || !PathToCodePage932(wide, folder, capacity)) {
    folder[0] = '\0';
    return false;
  }
  size_t length = TextLength(folder);
  // Cut at the last backslash, the only separator the system writes here.
  // The path was converted to code page 932 above, so the project's own
  // lead-byte rule finds its characters, whatever the system's code page.
  size_t cut = LastSeparator(folder, length, kBackslash);
  folder[cut == kNoSeparator ? 0 : cut] = '\0';
  return true;
}

namespace {

enum class IniCopy {
  Made,      // the copy's name is in copy
  NotNeeded, // the file is missing, empty, unreadable, or starts with a byte
             // order mark of its own, which the system decodes it by on
             // every system
  Failed,    // no copy could be written
  TooLarge,  // larger than any real INI file: not read
};

// The largest INI file taken: a real SETUP.INI or update script is a few
// kilobytes; one of megabytes is no real one, and every lookup of it fails.
constexpr DWORD kLargestIni = 1u << 20;

// UTF-16 copies of code page 932 INI files, made once per file and its
// contents (so a file that changes gets a new copy) and kept in the
// temporary folder until SysForgetIniCopies: every lookup then reads the
// copy, which the system keeps parsed, instead of writing it anew.
struct IniCopySlot {
  wchar_t path[MAX_PATH];  // the original
  DWORD size;
  uint32_t crc;
  wchar_t copy[MAX_PATH];
};
IniCopySlot iniCopies[4];
unsigned nextIniCopy = 0;

void ForgetCopy(IniCopySlot& slot) {
  if (slot.copy[0]) {
    // The system keeps read files in a cache by name; a later copy may get
    // the same name.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, slot.copy);
    DeleteFileW(slot.copy);
  }
  slot = IniCopySlot{};
}

// A UTF-16 copy, with its byte order mark, of the code page 932 file at
// path, in the temporary folder: one made before for the same contents, or
// a new one.
IniCopy MakeUnicodeCopy(const wchar_t* path, wchar_t (&copy)[MAX_PATH]) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return IniCopy::NotNeeded;
  DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE && size > kLargestIni) {
    CloseHandle(file);
    return IniCopy::TooLarge;
  }
  HANDLE heap = GetProcessHeap();
  char* bytes = nullptr;
  DWORD read = 0;
  bool loaded = size != INVALID_FILE_SIZE && size > 0 &&
                (bytes = static_cast<char*>(HeapAlloc(heap, 0, size))) != nullptr &&
                ReadFile(file, bytes, size, &read, nullptr) && read == size;
  CloseHandle(file);
  auto starts = [&](const char* mark, DWORD length) {
    return size >= length && memcmp(bytes, mark, length) == 0;
  };
  if (!loaded || starts("\xEF\xBB\xBF", 3) || starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
    if (bytes) HeapFree(heap, 0, bytes);
    return size == 0 || loaded ? IniCopy::NotNeeded : IniCopy::Failed;
  }
  uint32_t crc = Crc32(0, bytes, size);
  for (IniCopySlot& slot : iniCopies)
    if (slot.copy[0] && slot.size == size && slot.crc == crc && !lstrcmpiW(slot.path, path) &&
        GetFileAttributesW(slot.copy) != INVALID_FILE_ATTRIBUTES) {
      HeapFree(heap, 0, bytes);
      lstrcpynW(copy, slot.copy, MAX_PATH);
      return IniCopy::Made;
    }

  // The same conversion the system applies to a file in its ANSI code page.
  int units = MultiByteToWideChar(kCodePage, 0, bytes, static_cast<int>(size), nullptr, 0);
  wchar_t* text = units > 0 ? static_cast<wchar_t*>(HeapAlloc(heap, 0, (units + 1) * sizeof(wchar_t)))
                            : nullptr;
  bool written = false;
  wchar_t folder[MAX_PATH + 1];
  DWORD folderLength = GetTempPathW(MAX_PATH + 1, folder);
  if (text && folderLength > 0 && folderLength <= MAX_PATH &&
      GetTempFileNameW(folder, L"INI", 0, copy) != 0) {
    text[0] = 0xFEFF;
    MultiByteToWideChar(kCodePage, 0, bytes, static_cast<int>(size), text + 1, units);
    HANDLE out = CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                             nullptr);
    DWORD length = static_cast<DWORD>(units + 1) * sizeof(wchar_t), done = 0;
    written = out != INVALID_HANDLE_VALUE && WriteFile(out, text, length, &done, nullptr) &&
              done == length;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!written) DeleteFileW(copy);
  }
  if (text) HeapFree(heap, 0, text);
  HeapFree(heap, 0, bytes);
  if (!written) return IniCopy::Failed;
  // Kept for the next lookups of the same file; the oldest copy goes.
  IniCopySlot* slot = nullptr;
  for (IniCopySlot& s : iniCopies)
    if (!slot && s.copy[0] && !lstrcmpiW(s.path, path)) slot = &s;
  if (!slot) slot = &iniCopies[nextIniCopy++ % 4];
  ForgetCopy(*slot);
  lstrcpynW(slot->path, path, MAX_PATH);
  slot->size = size;
  slot->crc = crc;
  lstrcpynW(slot->copy, copy, MAX_PATH);
  return IniCopy::Made;
}

}  // namespace

void SysForgetIniCopies() {
  for (IniCopySlot& slot : iniCopies) ForgetCopy(slot);
}

DWORD SysGetPrivateProfileString(const char* section, const char* key, const char* fallback,
                                 char* buffer, DWORD capacity, const char* file) {
  if (capacity == 0) return 0;
  Wide wideSection(section), wideKey(key), wideFallback(fallback), wideFile(file);
  if (!wideSection.ok || !wideKey.ok || !wideFallback.ok || !wideFile.ok) {
    buffer[0] = '\0';
    return 0;
  }
  wchar_t copy[MAX_PATH];
  IniCopy made = MakeUnicodeCopy(wideFile.text, copy);
  bool copied = made == IniCopy::Made;
  if (made == IniCopy::TooLarge) {
    buffer[0] = '\0';
    return 0;
  }
  // Without a copy the system reads the file in its own code page: right
  // only where that is code page 932.
  if (made == IniCopy::Failed && GetACP() != kCodePage) {
    buffer[0] = '\0';
    return 0;
  }
  HANDLE heap = GetProcessHeap();
  auto* value = static_cast<wchar_t*>(HeapAlloc(heap, 0, capacity * sizeof(wchar_t)));
  DWORD units = 0;
  if (value)
    units = GetPrivateProfileStringW(wideSection.text, wideKey.text, wideFallback.text, value,
                                     capacity, copied ? copy : wideFile.text);
  // The value as the ANSI call gives it: cut to capacity - 1 bytes.
  int length = 0;
  if (units > 0) {
    length = WideCharToMultiByte(kCodePage, 0, value, static_cast<int>(units), buffer,
                                 static_cast<int>(capacity - 1), nullptr, nullptr);
    if (length == 0) length = static_cast<int>(capacity - 1);
  }
  buffer[length] = '\0';
  if (value) HeapFree(heap, 0, value);
  return static_cast<DWORD>(length);
}

int FormatTextV(char* buffer, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return 0;
  // wvnsprintfA follows wsprintf's rules and never writes past its size;
  // on overflow it may return -1 with a cut, terminated text. It is looked
  // up once, from the system folder: a static import would have the loader
  // look for it, and for the DLLs it needs in turn, beside the program
  // before the search is restricted.
  using Format = int(WINAPI*)(char*, int, const char*, va_list);
  static Format format_ = nullptr;
  if (!format_) format_ = reinterpret_cast<Format>(SysSystemFunction("shlwapi.dll", "wvnsprintfA"));
  buffer[0] = '\0';
  int n = format_ ? format_(buffer, static_cast<int>(capacity), format, args) : 0;
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

HMODULE SysLoadLibrary(const char* name) {
  // By its full path in the system folder: a DLL of the same name in the
  // program's folder (a Downloads folder) or the current one is never taken.
  wchar_t path[MAX_PATH + 32];
  UINT folder = GetSystemDirectoryW(path, MAX_PATH);
  Wide wide(name);
  if (folder == 0 || folder >= MAX_PATH || !wide.ok || lstrlenW(wide.text) > 30) return nullptr;
  path[folder] = L'\\';
  lstrcpyW(path + folder + 1, wide.text);
  return LoadLibraryW(path);
}
void* SysSystemFunction(const char* dll, const char* name) {
  HMODULE module = SysLoadLibrary(dll);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
void SysRestrictDllSearch() {
  // SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32 (0x800),
  // looked up at run time: Windows 7 without its update lacks it; there
  // SetDllDirectoryW(L"") at least takes the current folder out of the
  // search. Every DLL loaded later, by this program or by the system's own
  // DLLs on its behalf, then comes from the system folder only.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  using SetDefault = BOOL(WINAPI*)(DWORD);
  using SetDirectory = BOOL(WINAPI*)(const wchar_t*);
  auto setDefault = reinterpret_cast<SetDefault>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  constexpr DWORD kSearchSystem32 = 0x00000800;
  if (setDefault && setDefault(kSearchSystem32)) return;
  auto setDirectory = reinterpret_cast<SetDirectory>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
  if (setDirectory) setDirectory(L"");
}
void SysGuardAgainstRedirection() {
  // SetProcessMitigationPolicy with ProcessRedirectionTrustPolicy (16) and
  // its EnforceRedirectionTrust flag, looked up at run time: older systems
  // lack the call or refuse the policy, and go on as before.
  using SetPolicy = BOOL(WINAPI*)(int, void*, SIZE_T);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setPolicy = kernel ? reinterpret_cast<SetPolicy>(reinterpret_cast<void*>(
                                GetProcAddress(kernel, "SetProcessMitigationPolicy")))
                          : nullptr;
  constexpr int kRedirectionTrustPolicy = 16;
  DWORD enforce = 1;
  if (setPolicy) setPolicy(kRedirectionTrustPolicy, &enforce, sizeof enforce);
}
HRSRC SysFindResource(HMODULE module, int id, const char* type) {
  Wide wideType(type);
  return wideType.ok ? FindResourceW(module, MAKEINTRESOURCEW(id), wideType.text) : nullptr;
}

LONG SysRegOpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key) {
  Wide wide(subKey);
  if (!wide.ok) return ERROR_FILE_NOT_FOUND;
  return RegOpenKeyExW(root, wide.text, 0, access, key);
}

namespace {

// A value as RegQueryValueExA gives it on a code-page-932 system: the text
// types converted to code page 932, the others as stored; values of up to
// kTextCapacity bytes. A text that code page 932 cannot hold is refused
// with ERROR_NO_UNICODE_TRANSLATION and left in wide (units long) for the
// caller.
LONG QueryValue(HKEY key, const char* name, void* data, DWORD* size,
                wchar_t (&wide)[kWideCapacity], DWORD* units) {
  Wide wideName(name);
  if (!wideName.ok) return ERROR_FILE_NOT_FOUND;
  DWORD type = 0;
  DWORD wideSize = sizeof wide - sizeof(wchar_t);  // room for a terminator
  LONG result = RegQueryValueExW(key, wideName.text, nullptr, &type, reinterpret_cast<BYTE*>(wide),
                                 &wideSize);
  if (result != ERROR_SUCCESS) return result;
  DWORD capacity = *size;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
    *size = wideSize;
    if (wideSize > capacity) return ERROR_MORE_DATA;
    memcpy(data, wide, wideSize);
    return ERROR_SUCCESS;
  }
  *units = wideSize / sizeof(wchar_t);
  wide[*units] = L'\0';
  if (*units == 0) {
    *size = 0;
    return ERROR_SUCCESS;
  }
  BOOL substituted = FALSE;
  int needed = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(*units),
                                   nullptr, 0, nullptr, &substituted);
  if (substituted) return ERROR_NO_UNICODE_TRANSLATION;
  *size = static_cast<DWORD>(needed);
  if (static_cast<DWORD>(needed) > capacity) return ERROR_MORE_DATA;
  if (!ToCodePage932(wide, static_cast<int>(*units), static_cast<char*>(data), capacity))
    return ERROR_NO_UNICODE_TRANSLATION;
  return ERROR_SUCCESS;
}

}  // namespace

LONG SysRegQueryValue(HKEY key, const char* name, void* data, DWORD* size) {
  wchar_t wide[kWideCapacity];
  DWORD units = 0;
  return QueryValue(key, name, data, size, wide, &units);
}
bool SysRegQueryText(HKEY key, const char* name, char* buffer, size_t capacity) {
  if (capacity == 0) return false;
  wchar_t wide[kWideCapacity];
  DWORD units = 0;
  DWORD size = static_cast<DWORD>(capacity);
  LONG result = QueryValue(key, name, buffer, &size, wide, &units);
  if (result == ERROR_NO_UNICODE_TRANSLATION) {
    // A folder that code page 932 cannot spell: its short form, if any.
    result = ERROR_FILE_NOT_FOUND;
    static wchar_t shortPath[kWidePathCapacity];
    DWORD n = GetShortPathNameW(wide, shortPath, kWidePathCapacity);
    if (n > 0 && n < kWidePathCapacity && ToCodePage932(shortPath, -1, buffer, capacity)) {
      size = static_cast<DWORD>(TextLength(buffer));
      result = ERROR_SUCCESS;
    }
  }
  if (result != ERROR_SUCCESS) {
    buffer[0] = '\0';
    buffer[capacity - 1] = '\0';
    return false;
  }
  buffer[size < capacity ? size : capacity - 1] = '\0';
  return true;
}
BOOL SysGetDiskFreeSpace(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) {
  Wide wide(root);
  return wide.ok && GetDiskFreeSpaceW(wide.text, sectorsPerCluster, bytesPerSector, freeClusters,
                                      totalClusters);
}
BOOL SysCallFreeSpaceEx(SysFreeSpaceExFunction function, const char* root,
                        ULARGE_INTEGER* available, ULARGE_INTEGER* total, ULARGE_INTEGER* free) {
  Wide wide(root);
  return wide.ok && function(wide.text, available, total, free);
}

namespace {

int CALLBACK NoteFont(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
  if (font->lfFaceName[0] == L'@') return 1;  // a vertical face: go on
  lstrcpynW(reinterpret_cast<wchar_t*>(found), font->lfFaceName, LF_FACESIZE);
  return 0;
}

bool FindJapaneseFont(const wchar_t* face, wchar_t (&found)[LF_FACESIZE]) {
  LOGFONTW wanted{};
  wanted.lfCharSet = SHIFTJIS_CHARSET;
  if (face) lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
  found[0] = L'\0';
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  EnumFontFamiliesExW(screen, &wanted, NoteFont, reinterpret_cast<LPARAM>(found), 0);
  ReleaseDC(nullptr, screen);
  return found[0] != L'\0';
}

}  // namespace

bool SysJapaneseFontInstalled(const wchar_t* face) {
  wchar_t found[LF_FACESIZE];
  return face[0] != L'\0' && FindJapaneseFont(face, found);
}
bool SysAnyJapaneseFont(wchar_t (&face)[LF_FACESIZE]) { return FindJapaneseFont(nullptr, face); }

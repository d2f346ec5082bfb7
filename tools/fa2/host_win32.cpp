// The fa2 tool's host layer on Windows: arguments and paths are UTF-16 and go
// to the wide ("W") functions; entry names are converted to and from code
// page 932 explicitly, not through the system's own code page.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "tools/fa2/host.h"

namespace {

constexpr UINT kEntryCodePage = 932;

bool WideFrom(UINT codePage, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide->resize(n);
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), wide->data(), n) == n;
}

// UTF-8 never needs a default character; code page 932 refuses one (and any
// "best fit" look-alike) through usedDefault.
bool NarrowFrom(UINT codePage, const std::wstring& wide, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = codePage == CP_UTF8 ? nullptr : &usedDefault;
  int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr,
                              0, nullptr, usedDefaultOut);
  if (n <= 0 || usedDefault) return false;
  text->resize(n);
  return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                             text->data(), n, nullptr, usedDefaultOut) == n &&
         !usedDefault;
}

std::wstring WidePath(const std::string& path) { return HostPath(path).wstring(); }

std::string ErrorText(DWORD error) {
  wchar_t* message = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring wide(message ? message : L"", n);
  LocalFree(message);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L'.'))
    wide.pop_back();
  std::string text;
  if (wide.empty() || !NarrowFrom(CP_UTF8, wide, &text))
    text = "system error " + std::to_string(error);
  return text;
}

// Opens a file's times for reading and setting; folders too.
HANDLE OpenForTimes(const std::string& path) {
  return CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

uint64_t AsNumber(const FILETIME& t) {
  return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime;
}

}  // namespace

bool EntryNameFromHost(const std::string& text, std::string* cp932) {
  std::wstring wide, back;
  // Exact both ways: a character that would come back as another is refused.
  return WideFrom(CP_UTF8, text, &wide) && NarrowFrom(kEntryCodePage, wide, cp932) &&
         WideFrom(kEntryCodePage, *cp932, &back) && back == wide;
}

bool HostFromEntryName(const std::string& cp932, std::string* text) {
  std::wstring wide;
  return WideFrom(kEntryCodePage, cp932, &wide) && NarrowFrom(CP_UTF8, wide, text);
}

std::FILE* OpenHostFile(const std::string& path, const char* mode) {
  std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(WidePath(path).c_str(), wideMode.c_str());
}

std::string ReplaceHostFile(const std::string& from, const std::string& to) {
  if (!MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING))
    return ErrorText(GetLastError());
  return "";
}

std::string ReadFileTime(const std::string& path, uint64_t* fileTime, bool* clamped) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data))
    return ErrorText(GetLastError());
  *fileTime = AsNumber(data.ftLastWriteTime);
  *clamped = false;
  return "";
}

std::string WriteFileTime(const std::string& path, uint64_t fileTime, uint64_t* kept) {
  // To SetFileTime, 0 means "leave this time as it is" and values with the
  // top bit set are no times: the nearest that is one is set instead.
  uint64_t settable = fileTime == 0 ? 1 : fileTime > INT64_MAX ? INT64_MAX : fileTime;
  FILETIME time{static_cast<DWORD>(settable), static_cast<DWORD>(settable >> 32)};
  HANDLE file = OpenForTimes(path);
  if (file == INVALID_HANDLE_VALUE) return ErrorText(GetLastError());
  FILETIME written{};
  bool ok = SetFileTime(file, &time, &time, &time) && GetFileTime(file, nullptr, nullptr, &written);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) return ErrorText(error);
  *kept = AsNumber(written);
  return "";
}

void PrintText(std::FILE* stream, const std::string& text) {
  HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  std::wstring wide;
  if (GetConsoleMode(handle, &mode) && WideFrom(CP_UTF8, text, &wide)) {
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::vector<std::string> ArgumentsFromWide(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    std::string text;
    NarrowFrom(CP_UTF8, argv[i], &text);
    arguments.push_back(text);
  }
  return arguments;
}

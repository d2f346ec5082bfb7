// What the fa2 tool needs of the system it runs on. Inside the tool every
// text that comes from or goes to the host (arguments, paths, messages) is
// UTF-8, and entry names are code page 932 bytes, whatever the host. On
// Windows the tool takes its arguments and hands every path to the system as
// UTF-16, so it works the same whatever the system's own code page is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// Host text to an entry name and back. False when the text has no exact
// form in the other encoding (a character code page 932 lacks, or bytes that
// are no text); out is then unspecified.
bool EntryNameFromHost(const std::string& text, std::string* cp932);
bool HostFromEntryName(const std::string& cp932, std::string* text);

// Paths from and to the tool's UTF-8 text.
inline std::filesystem::path HostPath(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string HostText(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::FILE* OpenHostFile(const std::string& path, const char* mode);

// An entry name as the host's text, for messages and listings; bytes that
// are no code page 932 text are shown as \xNN.
inline std::string ShownName(const std::string& cp932) {
  std::string text;
  if (HostFromEntryName(cp932, &text)) return text;
  text.clear();
  for (unsigned char c : cp932) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

// Moves from over to, replacing a file there in one step. Empty on success,
// else why not.
std::string ReplaceHostFile(const std::string& from, const std::string& to);

// The file's last-write time as a FILETIME. A time outside what a FILETIME
// holds gives its nearest end and sets *clamped. Empty on success, else why not.
std::string ReadFileTime(const std::string& path, uint64_t* fileTime, bool* clamped);

// Gives the file fileTime as its last-write time (and last-access time; on
// Windows the creation time too), and reads back into *kept the last-write
// time the file system holds afterwards: fileTime itself, or its nearest
// where the file system cannot hold it. Empty on success, else why not.
std::string WriteFileTime(const std::string& path, uint64_t fileTime, uint64_t* kept);

// Writes UTF-8 text to stdout or stderr; a Windows console gets it as UTF-16.
void PrintText(std::FILE* stream, const std::string& text);

#ifdef _WIN32
// The wide command line as the tool's UTF-8 arguments.
std::vector<std::string> ArgumentsFromWide(int argc, wchar_t** argv);
#endif

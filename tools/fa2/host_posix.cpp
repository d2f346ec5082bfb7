// The fa2 tool's host layer on POSIX systems: file names are UTF-8 bytes,
// converted to and from code page 932 by iconv.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "package/package_writer.h"
#include "tools/fa2/host.h"

namespace {

// Converts in from one iconv encoding to another; false when any of it has
// no form in the other (no transliteration, no substitution).
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(in.size() * 4 + 8, '\0');
  char* source = const_cast<char*>(in.data());
  size_t sourceLeft = in.size();
  char* target = result.data();
  size_t targetLeft = result.size();
  bool ok = iconv(cd, &source, &sourceLeft, &target, &targetLeft) != static_cast<size_t>(-1) &&
            sourceLeft == 0 &&
            iconv(cd, nullptr, nullptr, &target, &targetLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  result.resize(result.size() - targetLeft);
  *out = result;
  return ok;
}

// A file time as a FILETIME; *clamped when it lies outside what one holds.
uint64_t FileTimeOf(const struct timespec& t, bool* clamped) {
  uint64_t fileTime = UnixToFileTime(t.tv_sec, static_cast<uint32_t>(t.tv_nsec));
  uint32_t nanoseconds = 0;
  int64_t seconds = FileTimeToUnix(fileTime, &nanoseconds);
  *clamped = seconds != t.tv_sec || nanoseconds != t.tv_nsec / 100 * 100;
  return fileTime;
}

}  // namespace

bool EntryNameFromHost(const std::string& text, std::string* cp932) {
  // Exact both ways: a character that would come back as another is refused.
  std::string back;
  return Convert("CP932", "UTF-8", text, cp932) && Convert("UTF-8", "CP932", *cp932, &back) &&
         back == text;
}

bool HostFromEntryName(const std::string& cp932, std::string* text) {
  return Convert("UTF-8", "CP932", cp932, text);
}

std::FILE* OpenHostFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string ReplaceHostFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return std::strerror(errno);
  return "";
}

std::string ReadFileTime(const std::string& path, uint64_t* fileTime, bool* clamped) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return std::strerror(errno);
  *fileTime = FileTimeOf(status.st_mtim, clamped);
  return "";
}

std::string WriteFileTime(const std::string& path, uint64_t fileTime, uint64_t* kept) {
  uint32_t nanoseconds = 0;
  int64_t seconds = FileTimeToUnix(fileTime, &nanoseconds);
  // Where time_t is 32 bits, the nearest time it holds.
  constexpr int64_t kFirst = std::numeric_limits<time_t>::min();
  constexpr int64_t kLast = std::numeric_limits<time_t>::max();
  if (seconds < kFirst) seconds = kFirst, nanoseconds = 0;
  if (seconds > kLast) seconds = kLast, nanoseconds = 999999999;
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = static_cast<long>(nanoseconds);
  times[1] = times[0];
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return std::strerror(errno);
  // The file system may keep a nearer time than asked for (ext4 holds
  // 1901 to 2446): what it holds is read back.
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return std::strerror(errno);
  bool clamped = false;
  *kept = FileTimeOf(status.st_mtim, &clamped);
  return "";
}

void PrintText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

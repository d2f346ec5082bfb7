#include "tools/fa2/tool_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "package/package_writer.h"
#include "tools/fa2/host.h"
#include "tools/fa2/tool_errors.h"

namespace fs = std::filesystem;

Bytes ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(HostPath(path), ec)) Fail(path, "is a folder");
  std::FILE* f = OpenHostFile(path, "rb");
  if (!f) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  Bytes data;
  // Room for the whole file at once: growing by doubling would briefly hold
  // the old and the new copy, up to three times the file's size.
  uintmax_t expected = fs::file_size(HostPath(path), ec);
  if (!ec && expected <= UINT32_MAX) data.reserve(static_cast<size_t>(expected));
  uint8_t buffer[1 << 16];
  size_t n;
  bool tooLarge = false;
  while (!tooLarge && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    tooLarge = data.size() + n > UINT32_MAX;
    if (!tooLarge) data.insert(data.end(), buffer, buffer + n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) Fail(path, "4 GiB or larger, more than a package or an updater can hold");
  if (readError) Fail(path, "read error");
  return data;
}

void OutputFile::Abandon() {
  if (!file) return;
  std::fclose(file);
  file = nullptr;
  std::error_code ec;
  fs::remove(HostPath(temp), ec);
}

void BeginOutput(const std::string& path, OutputFile* out) {
  static unsigned counter = 0;
  out->path = path;
  out->temp = path + ".fa2tmp" + std::to_string(++counter);
  out->file = OpenHostFile(out->temp, "wb");
  if (!out->file) Fail(path, std::string("cannot create: ") + std::strerror(errno));
}

void WriteOutput(OutputFile* out, const uint8_t* data, size_t size) {
  if (size && std::fwrite(data, 1, size, out->file) != size) {
    out->Abandon();
    Fail(out->path, "write failed (disk full?)");
  }
}

void FinishOutput(OutputFile* out, const OutputFinish& finish) {
  const std::string& path = out->path;
  bool closed = std::fclose(out->file) == 0;
  out->file = nullptr;
  std::error_code ec;
  auto failWith = [&](const std::string& problem) {
    fs::remove(HostPath(out->temp), ec);
    Fail(path, problem);
  };
  if (!closed) failWith("write failed (disk full?)");
  uint64_t kept = 0;
  if (finish.fileTime) {
    std::string why = WriteFileTime(out->temp, *finish.fileTime, &kept);
    if (!why.empty()) failWith("cannot set modification time: " + why);
  }
#ifndef _WIN32
  if (finish.executable)
    fs::permissions(HostPath(out->temp),
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
#endif
  std::string why = ReplaceHostFile(out->temp, path);
  if (!why.empty()) failWith("cannot rename into place: " + why);
  if (finish.fileTime && kept != *finish.fileTime)
    Warn(path, "the file system cannot hold the time " + IsoTime(*finish.fileTime) + "; it has " +
                   IsoTime(kept));
}

void WriteWholeFile(const std::string& path, const Bytes& data, const OutputFinish& finish) {
  OutputFile out;
  BeginOutput(path, &out);
  WriteOutput(&out, data.data(), data.size());
  FinishOutput(&out, finish);
}

std::string IsoTime(uint64_t fileTime) {
  int64_t t = FileTimeToUnix(fileTime);
  int64_t days = t / 86400, secs = t % 86400;
  if (secs < 0) secs += 86400, days -= 1;
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return text;
}

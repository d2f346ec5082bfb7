// fa2: creates, lists, extracts and tests FA2 packages.
// Errors are one line, "fa2: WHAT: problem", with exit code 1; usage errors
// exit with 2. Every output file is written to a temporary beside it and
// renamed into place, so a failure never leaves a partly written file.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "package/block.h"
#include "package/compress.h"
#include "package/decompress.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "package/package_writer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const char kHelp[] =
    "usage: fa2 COMMAND ...\n"
    "\n"
    "  fa2 create [--store] [--level N] OUT.FA2 FILE...\n"
    "      Packs the files, in the order given, into OUT.FA2. An entry is named\n"
    "      after its file's base name, which must be 1 to 14 bytes, and keeps the\n"
    "      file's modification time. Entries and the directory are compressed\n"
    "      (an entry that does not get smaller is stored). --store stores every\n"
    "      entry uncompressed; --level N chooses the compression level, 1 (fast)\n"
    "      to 9 (smallest), default 6.\n"
    "  fa2 list PKG\n"
    "      One row per entry: name, flags (02 = compressed), modification time\n"
    "      (UTC), original size, stored size, data offset.\n"
    "  fa2 extract PKG [-C DIR] [NAME...]\n"
    "      Writes the named entries (all entries when no name is given) into DIR\n"
    "      (default: the current folder) with their modification times. Names are\n"
    "      matched without regard to letter case; the first entry of a name wins,\n"
    "      also when all entries are written.\n"
    "  fa2 test PKG\n"
    "      Decodes every entry and checks that its data lies inside the package,\n"
    "      that a compressed entry decodes to exactly its original size within its\n"
    "      stored size, and that a stored entry's sizes agree.\n"
    "  fa2 help, fa2 --help\n"
    "      Shows this text.\n"
    "\n"
    "Exit codes: 0 success, 1 a file or package could not be processed (one\n"
    "line on stderr: \"fa2: WHAT: problem\"), 2 wrong usage.\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "fa2: %s\nTry 'fa2 --help'.\n", why.c_str());
  return 2;
}

// Thrown for a failure of one file or package; main prints it as one line.
struct Failure {
  std::string what;
  std::string problem;
};

[[noreturn]] void Fail(const std::string& what, const std::string& problem) {
  throw Failure{what, problem};
}

Bytes ReadFileBytes(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) Fail(path, "is a folder");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  Bytes data;
  uint8_t buffer[1 << 16];
  size_t n;
  bool tooLarge = false;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (data.size() + n > UINT32_MAX) {
      tooLarge = true;
      break;
    }
    data.insert(data.end(), buffer, buffer + n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) Fail(path, "larger than 4 GiB, too large for an FA2 package");
  if (readError) Fail(path, "read error");
  return data;
}

// ---- times ----

uint64_t FileTimeOf(const std::string& path) {
  std::error_code ec;
  auto t = fs::last_write_time(path, ec);
  if (ec) Fail(path, "cannot read modification time: " + ec.message());
  auto sys = std::chrono::file_clock::to_sys(t);
  int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
  int64_t seconds = ns / 1000000000;
  int64_t rest = ns % 1000000000;
  if (rest < 0) rest += 1000000000, seconds -= 1;
  return UnixToFileTime(seconds, static_cast<uint32_t>(rest));
}

fs::file_time_type FileTimeToFsTime(uint64_t fileTime) {
  uint32_t ns;
  int64_t seconds = FileTimeToUnix(fileTime, &ns);
  auto sys = std::chrono::sys_seconds(std::chrono::seconds(seconds)) + std::chrono::nanoseconds(ns);
  return std::chrono::time_point_cast<fs::file_time_type::duration>(
      std::chrono::file_clock::from_sys(sys));
}

// "YYYY-MM-DDTHH:MM:SSZ" of a FILETIME, by the civil calendar.
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

// ---- output files ----

// Writes data to a temporary beside path, gives it fileTime when asked, and
// renames it over path. On any failure the temporary is removed and path is
// left as it was.
void WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                         const uint64_t* fileTime) {
  static unsigned counter = 0;
  std::string temp = path + ".fa2tmp" + std::to_string(++counter);
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) Fail(path, std::string("cannot create: ") + std::strerror(errno));
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  ok = (std::fclose(f) == 0) && ok;
  std::error_code ec;
  if (!ok) {
    fs::remove(temp, ec);
    Fail(path, "write failed (disk full?)");
  }
  if (fileTime) {
    fs::last_write_time(temp, FileTimeToFsTime(*fileTime), ec);
    if (ec) {
      fs::remove(temp, ec);
      Fail(path, "cannot set modification time");
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    // Some systems do not rename over an existing file.
    std::error_code ec2;
    if (fs::is_regular_file(path, ec2)) {
      fs::remove(path, ec2);
      fs::rename(temp, path, ec);
    }
  }
  if (ec) {
    std::string why = ec.message();
    fs::remove(temp, ec);
    Fail(path, "cannot rename into place: " + why);
  }
}

// ---- reading packages ----

struct LoadedPackage {
  std::string path;
  Bytes bytes;
  UpdatePackage* directory = nullptr;
  ~LoadedPackage() { FreeBlock(directory); }
};

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads the whole package and its directory, with a precise reason when
// they do not hold together.
void LoadPackage(const std::string& path, LoadedPackage* pkg) {
  pkg->path = path;
  pkg->bytes = ReadFileBytes(path);
  const Bytes& b = pkg->bytes;
  if (b.size() > UINT32_MAX) Fail(path, "larger than 4 GiB, not an FA2 package");
  uint32_t size = static_cast<uint32_t>(b.size());
  PackageProblem problem;
  pkg->directory = size ? OpenPackageBytes(b.data(), size, &problem) : nullptr;
  if (pkg->directory) return;
  if (size == 0) Fail(path, OpenProblemText(OpenNotPackage));
  if (problem.what == OpenNotPackage || problem.what == OpenShortHeader ||
      problem.what == OpenNoMemory)
    Fail(path, OpenProblemText(problem.what));
  // The header is whole from here on; its own figures make the reason concrete.
  uint32_t offset = Get32(b.data() + 8), count = Get32(b.data() + 12);
  uint64_t dirBytes = uint64_t{count} * kEntrySize;
  switch (problem.what) {
    case OpenDirectoryOutside:
      Fail(path, "directory offset " + std::to_string(offset) + " outside the file of " +
                     std::to_string(size) + " bytes");
    case OpenTooManyEntries:
      Fail(path, "entry count " + std::to_string(count) + " too large");
    case OpenDirectoryTruncated:
      Fail(path, "truncated: directory of " + std::to_string(count) +
                     " entries passes the end of the file");
    case OpenDirectoryCorrupt:
      Fail(path, std::string("directory: ") + DecodeResultText(problem.decode));
    case OpenDirectoryWrongSize:
      Fail(path, "directory decodes to " + std::to_string(problem.decodedBytes) + " bytes, not " +
                     std::to_string(dirBytes) + " for " + std::to_string(count) + " entries");
    default:
      Fail(path, OpenProblemText(problem.what));
  }
}

std::string EntryName(const PackageEntry& e) {
  size_t n = 0;
  while (n < kEntryNameField && e.name[n]) ++n;
  return std::string(e.name, n);
}

// Checks one entry's place and sizes; returns its data offset.
uint32_t CheckEntry(const LoadedPackage& pkg, uint32_t index) {
  const PackageEntry& e = pkg.directory->entries[index];
  std::string name = EntryName(e);
  if (name.size() == kEntryNameField) Fail(pkg.path, "entry " + std::to_string(index) + ": name not terminated");
  uint32_t offset;
  if (!EntryDataInside(pkg.directory, index, static_cast<uint32_t>(pkg.bytes.size()), &offset))
    Fail(pkg.path, name + ": data lies outside the file");
  if (!(e.flags & kEntryFlagCompressed) && e.storedSize != e.originalSize)
    Fail(pkg.path, name + ": stored size " + std::to_string(e.storedSize) +
                       " differs from original size " + std::to_string(e.originalSize));
  return offset;
}

// The entry's bytes: decoded into out for a compressed entry, else a view
// into the package.
const uint8_t* EntryBytes(const LoadedPackage& pkg, uint32_t index, Bytes* out) {
  uint32_t offset = CheckEntry(pkg, index);
  const PackageEntry& e = pkg.directory->entries[index];
  const uint8_t* data = pkg.bytes.data() + offset;
  if (!(e.flags & kEntryFlagCompressed)) return data;
  out->assign(e.originalSize, 0);
  DecodeCounts c{};
  DecodeResult r = DecompressStream(out->data(), out->size(), data, e.storedSize, &c);
  std::string name = EntryName(e);
  if (r != DecodeOk) Fail(pkg.path, name + ": " + DecodeResultText(r));
  if (c.written != e.originalSize)
    Fail(pkg.path, name + ": decodes to " + std::to_string(c.written) + " bytes, not " +
                       std::to_string(e.originalSize));
  return out->data();
}

// Letter case is ignored for ASCII letters only, and never inside a
// double-byte character, whose second byte may look like a letter.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (IsCp932LeadByte(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// ---- commands ----

int Create(const std::vector<std::string>& args) {
  PackageOptions options;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "--store") {
      options.store = true;
    } else if (!optionsDone && (a == "--level" || a.rfind("--level=", 0) == 0)) {
      std::string value;
      if (a == "--level") {
        if (i + 1 >= args.size()) return Usage("--level needs a number 1 to 9");
        value = args[++i];
      } else {
        value = a.substr(8);
      }
      if (value.size() != 1 || value[0] < '1' || value[0] > '9')
        return Usage("--level needs a number 1 to 9, not '" + value + "'");
      options.level = value[0] - '0';
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "' for create");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2) return Usage("create needs OUT.FA2 and at least one FILE");
  const std::string& outPath = positional[0];

  std::vector<Bytes> contents;
  std::vector<PackageInput> inputs;
  contents.reserve(positional.size() - 1);
  for (size_t i = 1; i < positional.size(); ++i) {
    const std::string& file = positional[i];
    std::string name = fs::path(file).filename().string();
    std::string problem = EntryNameProblem(name);
    if (!problem.empty()) Fail(file, problem);
    contents.push_back(ReadFileBytes(file));
    inputs.push_back({name, FileTimeOf(file), contents.back().data(), contents.back().size()});
  }
  Bytes package;
  std::string error;
  if (!BuildPackage(inputs, options, &package, &error)) Fail(outPath, error);
  WriteFileAtomically(outPath, package.data(), package.size(), nullptr);
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list needs exactly one PKG");
  LoadedPackage pkg;
  LoadPackage(args[0], &pkg);
  std::printf("%-14s %5s  %-20s %12s %12s %12s\n", "NAME", "FLAGS", "TIME (UTC)", "ORIGINAL",
              "STORED", "OFFSET");
  for (uint32_t i = 0; i < pkg.directory->header.entryCount; ++i) {
    const PackageEntry& e = pkg.directory->entries[i];
    uint32_t offset = 0;
    std::string where = EntryDataOffset(pkg.directory, i, &offset) ? std::to_string(offset) : "-";
    uint64_t fileTime = uint64_t{e.fileTimeHigh} << 32 | e.fileTimeLow;
    std::printf("%-14s %5.2X  %-20s %12u %12u %12s\n", EntryName(e).c_str(), e.flags,
                IsoTime(fileTime).c_str(), e.originalSize, e.storedSize, where.c_str());
  }
  return 0;
}

int Extract(const std::vector<std::string>& args) {
  std::string dir = ".";
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (i + 1 >= args.size()) return Usage("-C needs a folder");
      dir = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.empty()) return Usage("extract needs a PKG");
  LoadedPackage pkg;
  LoadPackage(positional[0], &pkg);
  uint32_t count = pkg.directory->header.entryCount;

  // Choose and check every entry before anything is written.
  std::vector<uint32_t> chosen;
  if (positional.size() == 1) {
    // A later entry whose name differs from an earlier one only in case is
    // never found by a lookup, and on a case-insensitive file system it would
    // overwrite the earlier one: every file gets the entry a lookup finds.
    for (uint32_t i = 0; i < count; ++i) {
      bool shadowed = false;
      for (uint32_t j : chosen)
        shadowed = shadowed || SameName(EntryName(pkg.directory->entries[j]),
                                        EntryName(pkg.directory->entries[i]));
      if (!shadowed) chosen.push_back(i);
    }
  } else {
    for (size_t k = 1; k < positional.size(); ++k) {
      uint32_t i = 0;
      while (i < count && !SameName(EntryName(pkg.directory->entries[i]), positional[k])) ++i;
      if (i == count) Fail(pkg.path, "no entry named '" + positional[k] + "'");
      chosen.push_back(i);
    }
  }
  for (uint32_t i : chosen) {
    CheckEntry(pkg, i);
    std::string problem = EntryNameProblem(EntryName(pkg.directory->entries[i]));
    if (!problem.empty()) Fail(pkg.path, problem);
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) Fail(dir, "not a folder");

  for (uint32_t i : chosen) {
    const PackageEntry& e = pkg.directory->entries[i];
    Bytes decoded;
    const uint8_t* data = EntryBytes(pkg, i, &decoded);
    uint64_t fileTime = uint64_t{e.fileTimeHigh} << 32 | e.fileTimeLow;
    std::string out = (fs::path(dir) / EntryName(e)).string();
    WriteFileAtomically(out, data, e.originalSize, &fileTime);
  }
  return 0;
}

int Test(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("test needs exactly one PKG");
  LoadedPackage pkg;
  LoadPackage(args[0], &pkg);
  uint32_t count = pkg.directory->header.entryCount;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes decoded;
    EntryBytes(pkg, i, &decoded);
    const PackageEntry& e = pkg.directory->entries[i];
    std::printf("ok  %-14s %12u bytes\n", EntryName(e).c_str(), e.originalSize);
  }
  std::printf("%s: %u entries ok\n", pkg.path.c_str(), count);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (command == "create") return Create(args);
  if (command == "list") return List(args);
  if (command == "extract") return Extract(args);
  if (command == "test") return Test(args);
  return Usage("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "fa2: %s: %s\n", f.what.c_str(), f.problem.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "fa2: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fa2: %s\n", e.what());
  }
  return 1;
}

// fa2: creates, lists, extracts and tests FA2 packages.
// Errors are one line, "fa2: WHAT: problem", with exit code 1; usage errors
// exit with 2. Every output file is written to a temporary beside it and
// renamed into place, so a failure never leaves a partly written file.
// Entry names are code page 932 bytes; file names, arguments and messages are
// the host's text (UTF-8 inside the tool, see host.h).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "package/block.h"
#include "package/compress.h"
#include "package/decompress.h"
#include "package/entry_data.h"
#include "package/entry_name.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "package/package_writer.h"
#include "tools/fa2/check_command.h"
#include "tools/fa2/host.h"
#include "tools/fa2/make_updater.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const char kHelp[] =
    "usage: fa2 COMMAND ...\n"
    "\n"
    "  fa2 create [--store] [--level N] OUT.FA2 FILE...\n"
    "      Packs the files, in the order given, into OUT.FA2. An entry is named\n"
    "      after its file's base name, stored in code page 932, where it must be\n"
    "      1 to 14 bytes, and keeps the file's modification time. Entries and\n"
    "      the directory are compressed (an entry that does not get smaller is\n"
    "      stored). --store stores every entry uncompressed; --level N chooses\n"
    "      the compression level, 1 (fast) to 9 (smallest), default 6.\n"
    "  fa2 list PKG\n"
    "      One row per entry: name, flags (02 = compressed), modification time\n"
    "      (UTC), original size, stored size, data offset.\n"
    "  fa2 extract PKG [-C DIR] [NAME...]\n"
    "      Writes the named entries (all entries when no name is given) into DIR\n"
    "      (default: the current folder) with their modification times, once\n"
    "      every one of them has been checked. Names are matched without regard\n"
    "      to letter case; the first entry of a name wins, also when all entries\n"
    "      are written.\n"
    "  fa2 test PKG\n"
    "      Decodes every entry and checks that its data lies inside the package,\n"
    "      that a compressed entry decodes to exactly its original size within its\n"
    "      stored size, and that a stored entry's sizes agree.\n"
    "  fa2 check [--warnings-as-errors] PKG\n"
    "      Checks the package's UPDATE.INI as the updater will read it and prints\n"
    "      one line per finding (UPDATE.INI:LINE: error|warning: ...) and a summary;\n"
    "      exit 1 with errors (or, with --warnings-as-errors, warnings).\n"
    "  fa2 make-updater --stub STUB.EXE [--icon FILE.ico] [--version A.B.C.D]\n"
    "                   [--no-check] PACKAGE OUT.EXE\n"
    "      Makes an updater: a copy of the updater program STUB.EXE (32- or\n"
    "      64-bit, unsigned) with PACKAGE as its package, once the package has\n"
    "      passed the checks of 'fa2 test' and holds UPDATE.INI. --icon gives it\n"
    "      the icons of an .ico file, --version that version number in its file\n"
    "      properties. The update script is checked as by 'fa2 check': errors\n"
    "      refuse the package, --no-check skips this. Sign OUT.EXE afterwards.\n"
    "  fa2 help, fa2 --help\n"
    "      Shows this text.\n"
    "\n"
    "File names are the system's own (UTF-8 on Linux, Unicode on Windows) and\n"
    "become code page 932 entry names, and back.\n"
    "\n"
    "Exit codes: 0 success, 1 a file or package could not be processed (one\n"
    "line on stderr: \"fa2: WHAT: problem\"), 2 wrong usage.\n";

int Usage(const std::string& why) {
  PrintText(stderr, "fa2: " + why + "\nTry 'fa2 --help'.\n");
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

void Warn(const std::string& what, const std::string& problem) {
  std::fflush(stdout);
  PrintText(stderr, "fa2: " + what + ": warning: " + problem + "\n");
}

Bytes ReadFileBytes(const std::string& path) {
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

// ---- names and times ----

// The entry's name: the bytes of its field up to the first NUL.
std::string EntryName(const PackageEntry& e) {
  size_t n = 0;
  while (n < kEntryNameField && e.name[n]) ++n;
  return std::string(e.name, n);
}

// ShownName padded to 14 columns, for tables: a code page 932 name takes
// as many columns as it has bytes (a double-byte character is a wide one).
std::string PaddedName(const std::string& cp932) {
  std::string shown = ShownName(cp932), text;
  size_t width = HostFromEntryName(cp932, &text) ? cp932.size() : shown.size();
  return shown + std::string(width < kEntryNameMax ? kEntryNameMax - width : 0, ' ');
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

// An output file on its way: bytes go to a temporary beside path, which is
// renamed over path once whole. On any failure the temporary is removed and
// path is left as it was.
struct OutputFile {
  std::string path, temp;
  std::FILE* file = nullptr;
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Abandon(); }
  void Abandon() {
    if (!file) return;
    std::fclose(file);
    file = nullptr;
    std::error_code ec;
    fs::remove(HostPath(temp), ec);
  }
};

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

// Closes the temporary, gives it fileTime when asked, and renames it over
// path. A time the file system cannot hold is replaced by the nearest it
// can, with a warning.
void FinishOutput(OutputFile* out, const uint64_t* fileTime) {
  const std::string& path = out->path;
  bool closed = std::fclose(out->file) == 0;
  out->file = nullptr;
  std::error_code ec;
  if (!closed) {
    fs::remove(HostPath(out->temp), ec);
    Fail(path, "write failed (disk full?)");
  }
  uint64_t kept = 0;
  if (fileTime) {
    std::string why = WriteFileTime(out->temp, *fileTime, &kept);
    if (!why.empty()) {
      fs::remove(HostPath(out->temp), ec);
      Fail(path, "cannot set modification time: " + why);
    }
  }
  std::string why = ReplaceHostFile(out->temp, path);
  if (!why.empty()) {
    fs::remove(HostPath(out->temp), ec);
    Fail(path, "cannot rename into place: " + why);
  }
  if (fileTime && kept != *fileTime)
    Warn(path, "the file system cannot hold the time " + IsoTime(*fileTime) + "; it has " +
                   IsoTime(kept));
}

// ---- reading packages ----

struct LoadedPackage {
  std::string path;
  Bytes bytes;
  UpdatePackage* directory = nullptr;
  ~LoadedPackage() { FreeBlock(directory); }
};

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
                     " entries does not fit in the " + std::to_string(size - offset) +
                     " bytes from its offset to the end of the file");
    case OpenDirectoryCorrupt:
      Fail(path, std::string("directory: ") + DecodeResultText(problem.decode));
    case OpenEntryOutside:
      Fail(path, "entry " + std::to_string(problem.entry) + ": data lies outside the file");
    case OpenDirectoryWrongSize:
      Fail(path, "directory decodes to " + std::to_string(problem.decodedBytes) + " bytes, not " +
                     std::to_string(dirBytes) + " for " + std::to_string(count) + " entries");
    default:
      Fail(path, OpenProblemText(problem.what));
  }
}

// The one working buffer through which every compressed entry is decoded:
// memory stays the same whatever the entries' sizes.
using EntryBuffer = std::vector<uint8_t>;

// Fails with the reason when reading entry `index` ended in `result`.
void CheckEntryResult(const LoadedPackage& pkg, uint32_t index, EntryDataResult result,
                      const EntryReader& reader) {
  if (result == EntryDataOk) return;
  const PackageEntry& e = pkg.directory->entries[index];
  std::string shown = ShownName(EntryName(e));
  switch (result) {
    case EntryDataOk:
      return;
    case EntryDataOutside:
      Fail(pkg.path, shown + ": data lies outside the file");
    case EntryDataSizesDiffer:
      Fail(pkg.path, shown + ": stored size " + std::to_string(e.storedSize) +
                         " differs from original size " + std::to_string(e.originalSize));
    case EntryDataCorrupt:
      Fail(pkg.path, shown + ": " + DecodeResultText(reader.decode.result));
    case EntryDataWrongSize:
      Fail(pkg.path, shown + ": decodes to " + std::to_string(reader.decode.written) +
                         " bytes, not " + std::to_string(e.originalSize));
  }
  Fail(pkg.path, shown + ": cannot be read");
}

// Reads entry `index` whole through buffer and fails unless it is sound.
void CheckEntry(const LoadedPackage& pkg, uint32_t index, EntryBuffer& buffer) {
  if (EntryName(pkg.directory->entries[index]).size() == kEntryNameField)
    Fail(pkg.path, "entry " + std::to_string(index) + ": name not terminated");
  EntryReader reader;
  EntryDataResult result =
      CheckEntryData(pkg.directory, index, pkg.bytes.data(),
                     static_cast<uint32_t>(pkg.bytes.size()), buffer.data(), &reader);
  CheckEntryResult(pkg, index, result, reader);
}

// Writes entry `index` to path piece by piece through its temporary.
void WriteEntry(const LoadedPackage& pkg, uint32_t index, EntryBuffer& buffer,
                const std::string& path) {
  EntryReader reader;
  EntryDataResult result = OpenEntryData(pkg.directory, index, pkg.bytes.data(),
                                         static_cast<uint32_t>(pkg.bytes.size()), &reader);
  CheckEntryResult(pkg, index, result, reader);
  OutputFile out;
  BeginOutput(path, &out);
  while (!reader.finished) {
    const uint8_t* piece;
    size_t length;
    result = ReadEntryPiece(&reader, buffer.data(), &piece, &length);
    if (result != EntryDataOk) {
      out.Abandon();
      CheckEntryResult(pkg, index, result, reader);
    }
    WriteOutput(&out, piece, length);
  }
  const PackageEntry& e = pkg.directory->entries[index];
  uint64_t fileTime = uint64_t{e.fileTimeHigh} << 32 | e.fileTimeLow;
  FinishOutput(&out, &fileTime);
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
    std::string name;
    if (!EntryNameFromHost(HostText(HostPath(file).filename()), &name))
      Fail(file, "the file name has no code page 932 form, which entry names need");
    std::string problem = EntryNameProblem(name);
    if (!problem.empty()) Fail(file, problem);
    contents.push_back(ReadFileBytes(file));
    uint64_t fileTime = 0;
    bool clamped = false;
    std::string why = ReadFileTime(file, &fileTime, &clamped);
    if (!why.empty()) Fail(file, "cannot read modification time: " + why);
    if (clamped)
      Warn(file, "modification time outside what an entry holds; stored as " + IsoTime(fileTime));
    inputs.push_back({name, fileTime, contents.back().data(), contents.back().size()});
  }
  Bytes package;
  std::string error;
  if (!BuildPackage(inputs, options, &package, &error)) Fail(outPath, error);
  OutputFile out;
  BeginOutput(outPath, &out);
  WriteOutput(&out, package.data(), package.size());
  FinishOutput(&out, nullptr);
  ReportPackedScript(inputs);
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list needs exactly one PKG");
  LoadedPackage pkg;
  LoadPackage(args[0], &pkg);
  char line[160];
  std::snprintf(line, sizeof line, "%-14s %5s  %-20s %12s %12s %12s\n", "NAME", "FLAGS",
                "TIME (UTC)", "ORIGINAL", "STORED", "OFFSET");
  PrintText(stdout, line);
  for (uint32_t i = 0; i < pkg.directory->header.entryCount; ++i) {
    const PackageEntry& e = pkg.directory->entries[i];
    uint32_t offset = 0;
    std::string where = EntryDataOffset(pkg.directory, i, &offset) ? std::to_string(offset) : "-";
    uint64_t fileTime = uint64_t{e.fileTimeHigh} << 32 | e.fileTimeLow;
    std::snprintf(line, sizeof line, " %5.2X  %-20s %12u %12u %12s\n", e.flags,
                  IsoTime(fileTime).c_str(), e.originalSize, e.storedSize, where.c_str());
    PrintText(stdout, PaddedName(EntryName(e)) + line);
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
  auto nameOf = [&pkg](uint32_t i) { return EntryName(pkg.directory->entries[i]); };

  // Choose and check every entry before anything is written.
  EntryBuffer buffer(kEntryBufferSize);
  std::vector<uint32_t> chosen;
  if (positional.size() == 1) {
    // A later entry whose name differs from an earlier one only in case is
    // never found by a lookup, and on a case-insensitive file system it would
    // overwrite the earlier one: every file gets the entry a lookup finds.
    for (uint32_t i = 0; i < count; ++i) {
      bool shadowed = false;
      for (uint32_t j : chosen)
        shadowed = shadowed || SameEntryName(nameOf(j).c_str(), nameOf(i).c_str());
      if (!shadowed) chosen.push_back(i);
    }
  } else {
    for (size_t k = 1; k < positional.size(); ++k) {
      std::string wanted;
      uint32_t i = count;
      if (EntryNameFromHost(positional[k], &wanted)) {
        i = 0;
        while (i < count && !SameEntryName(nameOf(i).c_str(), wanted.c_str())) ++i;
      }
      if (i == count) Fail(pkg.path, "no entry named '" + positional[k] + "'");
      chosen.push_back(i);
    }
  }
  std::vector<std::string> outPaths;
  for (uint32_t i : chosen) {
    std::string name = nameOf(i);
    std::string problem = EntryNameProblem(name);
    if (!problem.empty()) Fail(pkg.path, ShownName(name) + ": " + problem);
    std::string fileName;
    if (!HostFromEntryName(name, &fileName))
      Fail(pkg.path, ShownName(name) + ": entry name is not code page 932 text");
    outPaths.push_back(HostText(HostPath(dir) / HostPath(fileName)));
    CheckEntry(pkg, i, buffer);  // decodes once to check; written below
  }
  std::error_code ec;
  fs::create_directories(HostPath(dir), ec);
  if (!fs::is_directory(HostPath(dir), ec)) Fail(dir, "not a folder");

  for (size_t k = 0; k < chosen.size(); ++k) WriteEntry(pkg, chosen[k], buffer, outPaths[k]);
  return 0;
}

int Test(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("test needs exactly one PKG");
  LoadedPackage pkg;
  LoadPackage(args[0], &pkg);
  uint32_t count = pkg.directory->header.entryCount;
  EntryBuffer buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < count; ++i) {
    CheckEntry(pkg, i, buffer);
    const PackageEntry& e = pkg.directory->entries[i];
    char size[32];
    std::snprintf(size, sizeof size, " %12u bytes\n", e.originalSize);
    PrintText(stdout, "ok  " + PaddedName(EntryName(e)) + size);
  }
  PrintText(stdout, pkg.path + ": " + std::to_string(count) + " entries ok\n");
  return 0;
}

int Run(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return Usage("no command given");
  const std::string& command = argv[1];
  std::vector<std::string> args(argv.begin() + 2, argv.end());
  if (command == "--help" || command == "-h" || command == "help") {
    PrintText(stdout, kHelp);
    return 0;
  }
  if (command == "create") return Create(args);
  if (command == "list") return List(args);
  if (command == "extract") return Extract(args);
  if (command == "test") return Test(args);
  if (command == "check") return CheckCommand(args);
  if (command == "make-updater") return MakeUpdaterCommand(args);
  return Usage("unknown command '" + command + "'");
}

int Main(const std::vector<std::string>& argv) {
  try {
    return Run(argv);
  } catch (const Failure& f) {
    std::fflush(stdout);
    PrintText(stderr, "fa2: " + f.what + ": " + f.problem + "\n");
  } catch (const std::bad_alloc&) {
    PrintText(stderr, "fa2: out of memory\n");
  } catch (const std::exception& e) {
    PrintText(stderr, std::string("fa2: ") + e.what() + "\n");
  }
  return 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Main(ArgumentsFromWide(argc, argv)); }
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv, argv + argc)); }
#endif

// fa2: creates, lists, extracts and tests FA2 packages, checks update
// scripts and makes updaters. How it reports is in tool_errors.h, how it
// reads and writes files in tool_files.h, its usage texts in help_text.cpp.
// Entry names are code page 932 bytes; file names, arguments and messages are
// the host's text (UTF-8 inside the tool, see host.h).
#include <cstdint>
#include <cstdio>
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
#include "tools/fa2/help_text.h"
#include "tools/fa2/host.h"
#include "tools/fa2/make_updater.h"
#include "tools/fa2/tool_errors.h"
#include "tools/fa2/tool_files.h"

namespace fs = std::filesystem;

namespace {

// ---- names and times ----

// The entry's name: its name field as text (EntryNameText).
std::string EntryName(const PackageEntry& e) {
  char name[kEntryNameField + 1];
  EntryNameText(e, name);
  return name;
}

// ShownName padded to 14 columns, for tables: a code page 932 name takes
// as many columns as it has bytes (a double-byte character is a wide one).
std::string PaddedName(const std::string& cp932) {
  std::string shown = ShownName(cp932), text;
  size_t width = HostFromEntryName(cp932, &text) ? cp932.size() : shown.size();
  return shown + std::string(width < kEntryNameMax ? kEntryNameMax - width : 0, ' ');
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
  pkg->bytes = ReadWholeFile(path);
  const Bytes& b = pkg->bytes;
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
  FinishOutput(&out, {&fileTime});
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
        if (i + 1 >= args.size()) return UsageError("--level needs a number 1 to 9", "create");
        value = args[++i];
      } else {
        value = a.substr(8);
      }
      if (value.size() != 1 || value[0] < '1' || value[0] > '9')
        return UsageError("--level needs a number 1 to 9, not '" + value + "'", "create");
      options.level = value[0] - '0';
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "' for create", "create");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2)
    return UsageError("create needs OUT.FA2 and at least one FILE", "create");
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
    contents.push_back(ReadWholeFile(file));
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
  WriteWholeFile(outPath, package);
  ReportPackedScript(package, outPath);
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("list needs exactly one PACKAGE", "list");
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
      if (i + 1 >= args.size()) return UsageError("-C needs a folder", "extract");
      dir = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.empty()) return UsageError("extract needs a PACKAGE", "extract");
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
      uint32_t found = i;
      if (FindEntry(pkg.directory, nameOf(i).c_str(), &found) && found == i) chosen.push_back(i);
    }
  } else {
    for (size_t k = 1; k < positional.size(); ++k) {
      std::string wanted;
      uint32_t i = 0;
      if (!EntryNameFromHost(positional[k], &wanted) ||
          !FindEntry(pkg.directory, wanted.c_str(), &i))
        Fail(pkg.path, "no entry named '" + positional[k] + "'");
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
  if (args.size() != 1) return UsageError("test needs exactly one PACKAGE", "test");
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

// fa2 help [COMMAND], fa2 --help, fa2 COMMAND --help.
int Help(const std::string& command) {
  const char* text = HelpText(command);
  if (!text) return UsageError("no command '" + command + "'");
  PrintText(stdout, text);
  return 0;
}

int Run(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return UsageError("no command given");
  const std::string& command = argv[1];
  std::vector<std::string> args(argv.begin() + 2, argv.end());
  if (command == "--help" || command == "-h" || command == "help") {
    if (args.size() > 1) return UsageError("help takes one COMMAND");
    return Help(args.empty() ? "" : args[0]);
  }
  if (command == "--version") {
    PrintText(stdout, VersionText());
    return 0;
  }
  if (HelpText(command) && args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
    return Help(command);
  if (command == "create") return Create(args);
  if (command == "list") return List(args);
  if (command == "extract") return Extract(args);
  if (command == "test") return Test(args);
  if (command == "check") return CheckCommand(args);
  if (command == "make-updater") return MakeUpdaterCommand(args);
  if (command == "verify") return VerifyCommand(args);
  return UsageError("unknown command '" + command + "'");
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

// fa2 make-updater: writes a package into a copy of the updater stub as its
// resource (type "UPDATE", id 102), optionally with the game's icon, with no
// compiler or linker. The output is the same bytes on every host: nothing in
// it depends on the time or the machine.
#include "tools/fa2/make_updater.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "package/block.h"
#include "package/entry_data.h"
#include "package/entry_name.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "pe/pe_resources.h"
#include "tools/fa2/check_command.h"
#include "tools/fa2/host.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kLargestInput = size_t{1} << 31;  // no updater of 2 GiB can run

struct Problem {
  std::string what, why;
};

// The whole file, or a problem.
bool ReadWhole(const std::string& path, PeBytes* data, Problem* problem) {
  std::error_code ec;
  if (fs::is_directory(HostPath(path), ec)) {
    *problem = {path, "is a folder"};
    return false;
  }
  std::FILE* f = OpenHostFile(path, "rb");
  if (!f) {
    *problem = {path, std::string("cannot open: ") + std::strerror(errno)};
    return false;
  }
  uintmax_t expected = fs::file_size(HostPath(path), ec);
  if (!ec && expected < kLargestInput) data->reserve(static_cast<size_t>(expected));
  uint8_t buffer[1 << 16];
  size_t n;
  bool tooLarge = false;
  while (!tooLarge && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    tooLarge = data->size() + n >= kLargestInput;
    if (!tooLarge) data->insert(data->end(), buffer, buffer + n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) *problem = {path, "2 GiB or larger, too large for an updater"};
  if (readError) *problem = {path, "read error"};
  return !tooLarge && !readError;
}

// Empty when the package can go into an updater, else why not. Every check
// of a package before it becomes an updater belongs here: it must open,
// every entry must decode whole, and it must hold the update script.
std::string UpdaterPackageProblem(const PeBytes& bytes) {
  if (bytes.empty()) return OpenProblemText(OpenNotPackage);
  uint32_t size = static_cast<uint32_t>(bytes.size());
  PackageProblem problem;
  UpdatePackage* package = OpenPackageBytes(bytes.data(), size, &problem);
  if (!package && problem.what == OpenNotPackage) return OpenProblemText(OpenNotPackage);
  if (!package) return std::string("not a usable FA2 package: ") + OpenProblemText(problem.what);
  std::string why;
  bool hasScript = false;
  PeBytes buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < package->header.entryCount && why.empty(); ++i) {
    const PackageEntry& e = package->entries[i];
    size_t length = 0;
    while (length < kEntryNameField && e.name[length]) ++length;
    std::string name(e.name, length);
    EntryReader reader;
    if (length == kEntryNameField)
      why = "entry " + std::to_string(i) + ": name not terminated";
    else if (CheckEntryData(package, i, bytes.data(), size, buffer.data(), &reader) != EntryDataOk)
      why = "not a usable FA2 package: entry " + std::to_string(i) + " does not decode (see 'fa2 test')";
    hasScript = hasScript || SameEntryName(name.c_str(), "UPDATE.INI");
  }
  FreeBlock(package);
  if (why.empty() && !hasScript) why = "the package holds no UPDATE.INI";
  return why;
}

bool ParseVersion(const std::string& text, VersionInfo* info) {
  unsigned parts[4];
  char end;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4)
    return false;
  for (int i = 0; i < 4; ++i) {
    if (parts[i] > 0xFFFF) return false;
    info->version[i] = static_cast<uint16_t>(parts[i]);
  }
  return true;
}

int Usage(const std::string& why) {
  PrintText(stderr, "fa2: " + why + "\nTry 'fa2 --help'.\n");
  return 2;
}

int Fail(const Problem& problem) {
  std::fflush(stdout);
  PrintText(stderr, "fa2: " + problem.what + ": " + problem.why + "\n");
  return 1;
}

// Writes data to path through a temporary beside it, renamed into place.
bool WriteWhole(const std::string& path, const PeBytes& data, Problem* problem) {
  std::string temp = path + ".fa2tmp";
  std::FILE* f = OpenHostFile(temp, "wb");
  if (!f) {
    *problem = {path, std::string("cannot create: ") + std::strerror(errno)};
    return false;
  }
  bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  written = std::fclose(f) == 0 && written;
  std::error_code ec;
#ifndef _WIN32
  fs::permissions(HostPath(temp), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
#endif
  std::string why = written ? ReplaceHostFile(temp, path) : "write failed (disk full?)";
  if (!why.empty()) {
    fs::remove(HostPath(temp), ec);
    *problem = {path, written ? "cannot rename into place: " + why : why};
    return false;
  }
  return true;
}

}  // namespace

int MakeUpdaterCommand(const std::vector<std::string>& args) {
  std::string stubPath, iconPath;
  VersionInfo version;
  bool withVersion = false;
  bool checkScript = true;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--stub" || a == "--icon" || a == "--version") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      const std::string& value = args[++i];
      if (a == "--stub") stubPath = value;
      if (a == "--icon") iconPath = value;
      if (a == "--version" && !(withVersion = ParseVersion(value, &version)))
        return Usage("--version needs four numbers 0 to 65535, as in 1.2.0.0, not '" + value + "'");
    } else if (a == "--no-check") {
      checkScript = false;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "' for make-updater");
    } else {
      positional.push_back(a);
    }
  }
  if (stubPath.empty()) return Usage("make-updater needs --stub STUB.EXE");
  if (positional.size() != 2) return Usage("make-updater needs PACKAGE and OUT.EXE");
  const std::string& packagePath = positional[0];
  const std::string& outPath = positional[1];

  Problem problem;
  PeBytes package, stub, icon;
  if (!ReadWhole(packagePath, &package, &problem)) return Fail(problem);
  std::string why = UpdaterPackageProblem(package);
  if (!why.empty()) return Fail({packagePath, why});
  if (checkScript) {
    // The update script as the updater will read it: its findings are shown,
    // and errors refuse the package (a player would meet them).
    std::vector<ScriptFinding> findings;
    std::string problemText;
    if (!CheckPackageScript(package.data(), package.size(), &findings, &problemText))
      return Fail({packagePath, problemText});
    std::fflush(stdout);
    for (const ScriptFinding& finding : findings) PrintText(stderr, FindingLine(finding));
    if (CountErrors(findings) > 0) {
      std::string summary = FindingSummary(findings);
      if (!summary.empty() && summary.back() == '\n') summary.pop_back();
      return Fail({packagePath, "the update script has errors (" + summary + ")"});
    }
  }

  if (!ReadWhole(stubPath, &stub, &problem)) return Fail(problem);
  PeImage image;
  why = ReadPeImage(stub.data(), stub.size(), &image);
  if (!why.empty()) return Fail({stubPath, why});
  if (!iconPath.empty()) {
    if (!ReadWhole(iconPath, &icon, &problem)) return Fail(problem);
    why = SetIconFromIco(&image, icon.data(), icon.size());
    if (!why.empty()) return Fail({iconPath, why});
  }
  if (withVersion) SetVersionInfo(&image, version);
  ResourceItem item;
  item.type = ResourceName("UPDATE");
  item.name = ResourceId(102);
  item.data = package.data();
  item.size = package.size();
  SetResource(&image, item);

  PeBytes updater;
  why = WritePeImage(image, &updater);
  if (!why.empty()) return Fail({outPath, why});
  if (!WriteWhole(outPath, updater, &problem)) return Fail(problem);
  return 0;
}

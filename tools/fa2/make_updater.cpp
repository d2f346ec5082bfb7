// fa2 make-updater: writes a package into a copy of the updater stub as its
// resource (type "UPDATE", id 102), optionally with the game's icon, with no
// compiler or linker. The output is the same bytes on every host: nothing in
// it depends on the time or the machine.
#include "tools/fa2/make_updater.h"

#include <cstdint>
#include <cstdio>

#include "base/bounded_text.h"
#include "package/block.h"
#include "package/entry_data.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "pe/pe_resources.h"
#include "tools/fa2/check_command.h"
#include "tools/fa2/host.h"
#include "tools/fa2/tool_errors.h"
#include "tools/fa2/tool_files.h"

namespace {

// Empty when the package can go into an updater, else why not. Every check
// of a package before it becomes an updater belongs here: it must open,
// every entry must decode whole, and it must hold the update script.
std::string UpdaterPackageProblem(const Bytes& bytes) {
  if (bytes.empty()) return OpenProblemText(OpenNotPackage);
  uint32_t size = static_cast<uint32_t>(bytes.size());
  PackageProblem problem;
  UpdatePackage* package = OpenPackageBytes(bytes.data(), size, &problem);
  if (!package && problem.what == OpenNotPackage) return OpenProblemText(OpenNotPackage);
  if (!package) return std::string("not a usable FA2 package: ") + OpenProblemText(problem.what);
  std::string why;
  Bytes buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < package->header.entryCount && why.empty(); ++i) {
    char name[kEntryNameField + 1];
    EntryNameText(package->entries[i], name);
    EntryReader reader;
    if (TextLength(name) == kEntryNameField)
      why = "entry " + std::to_string(i) + ": name not terminated";
    else if (CheckEntryData(package, i, bytes.data(), size, buffer.data(), &reader) != EntryDataOk)
      why = "not a usable FA2 package: entry " + std::to_string(i) +
            " does not decode (see 'fa2 test')";
  }
  uint32_t script;
  if (why.empty() && !FindEntry(package, "UPDATE.INI", &script))
    why = "the package holds no UPDATE.INI";
  FreeBlock(package);
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

}  // namespace

int MakeUpdaterCommand(const std::vector<std::string>& args) {
  std::string stubPath, iconPath, setupPath;
  VersionInfo version;
  bool withVersion = false;
  bool checkScript = true;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--stub" || a == "--icon" || a == "--version" || a == "--setup") {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value", "make-updater");
      const std::string& value = args[++i];
      if (a == "--stub") stubPath = value;
      if (a == "--icon") iconPath = value;
      if (a == "--setup") setupPath = value;
      if (a == "--version" && !(withVersion = ParseVersion(value, &version)))
        return UsageError(
            "--version needs four numbers 0 to 65535, as in 1.2.0.0, not '" + value + "'",
            "make-updater");
    } else if (a == "--no-check") {
      checkScript = false;
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "' for make-updater", "make-updater");
    } else {
      positional.push_back(a);
    }
  }
  if (stubPath.empty()) return UsageError("make-updater needs --stub STUB.EXE", "make-updater");
  if (positional.size() != 2)
    return UsageError("make-updater needs PACKAGE and OUT.EXE", "make-updater");
  if (!checkScript && !setupPath.empty())
    return UsageError("--setup checks the script, which --no-check skips", "make-updater");
  const std::string& packagePath = positional[0];
  const std::string& outPath = positional[1];

  Bytes package = ReadWholeFile(packagePath);
  std::string why = UpdaterPackageProblem(package);
  if (!why.empty()) Fail(packagePath, why);
  if (checkScript) {
    // The update script as the updater will read it: its findings are shown,
    // and errors refuse the package (a player would meet them).
    CheckReport report = CheckPackage(package, packagePath, setupPath);
    std::fflush(stdout);
    PrintText(stderr, report.lines);
    if (CountErrors(report.findings) > 0) {
      report.summary.pop_back();  // its line break
      Fail(packagePath,
           std::string(setupPath.empty() ? "the update script has errors"
                                         : "the update script or SETUP.INI has errors") +
               " (" + report.summary + ")");
    }
  }

  Bytes stub = ReadWholeFile(stubPath), icon;
  PeImage image;
  why = ReadPeImage(stub.data(), stub.size(), &image);
  if (!why.empty()) Fail(stubPath, why);
  if (!iconPath.empty()) {
    icon = ReadWholeFile(iconPath);
    why = SetIconFromIco(&image, icon.data(), icon.size());
    if (!why.empty()) Fail(iconPath, why);
  }
  if (withVersion) SetVersionInfo(&image, version);
  ResourceItem item;
  item.type = ResourceName("UPDATE");
  item.name = ResourceId(102);
  item.data = package.data();
  item.size = package.size();
  SetResource(&image, item);

  Bytes updater;
  why = WritePeImage(image, &updater);
  if (!why.empty()) Fail(outPath, why);
  WriteWholeFile(outPath, updater, {nullptr, true});
  return 0;
}

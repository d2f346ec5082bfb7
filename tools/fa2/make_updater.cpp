// fa2 make-updater: writes a package into a copy of the updater stub as its
// resource (type "UPDATE", id 102), with its digests beside it (id 103),
// optionally with the game's icon, with no compiler or linker. The output is
// the same bytes on every host: nothing in it depends on the time or the
// machine. fa2 verify: checks a made updater's package against its digests.
#include "tools/fa2/make_updater.h"

#include <cstdint>
#include <cstdio>

#include "base/bounded_text.h"
#include "base/crc32.h"
#include "base/sha256.h"
#include "package/block.h"
#include "package/entry_data.h"
#include "package/fa2_format.h"
#include "package/open_package.h"
#include "package/package_digests.h"
#include "pe/pe_resources.h"
#include "resources/resource_ids.h"
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

}  // namespace

Bytes DigestRecord(const Bytes& bytes) {
  uint32_t size = static_cast<uint32_t>(bytes.size());
  UpdatePackage* package = OpenPackageBytes(bytes.data(), size, nullptr);
  uint32_t count = package->header.entryCount;
  Bytes record(DigestRecordSize(count));
  WriteDigestHeader(record.data(), size, count, Crc32(0, bytes.data(), size));
  Bytes buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t digest[kSha256Size];
    EntryDigest(package, i, bytes.data(), size, buffer.data(), digest);
    std::copy(digest, digest + kSha256Size, record.begin() + kDigestHeaderSize + i * kSha256Size);
  }
  FreeBlock(package);
  return record;
}

namespace {

const ResourceItem* FindUpdaterResource(const PeImage& image, uint16_t id) {
  ResourceKey type = ResourceName("UPDATE");
  for (const ResourceItem& item : image.resources)
    if (item.type.named && item.type.name == type.name && !item.name.named && item.name.id == id)
      return &item;
  return nullptr;
}

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

const char* DamageText(PackageDamage damage) {
  switch (damage) {
    case PackageWhole: return "whole";
    case PackageDigestsForeign: return "its digests are not those of its package";
    case PackageChecksumDiffers: return "its package is not the bytes that were packed (CRC-32 differs)";
    case PackageNotOpened: return "its package does not hold together";
    case PackageStoredSizesDiffer: return "a stored entry's two sizes differ";
  }
  return "damaged";
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
  item.name = ResourceId(IDR_PACKAGE);
  item.data = package.data();
  item.size = package.size();
  SetResource(&image, item);
  Bytes digests = DigestRecord(package);
  item.name = ResourceId(IDR_DIGESTS);
  item.data = digests.data();
  item.size = digests.size();
  SetResource(&image, item);

  Bytes updater;
  why = WritePeImage(image, &updater);
  if (!why.empty()) Fail(outPath, why);
  WriteWholeFile(outPath, updater, {nullptr, true});
  return 0;
}

int VerifyCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("verify needs exactly one UPDATER.EXE", "verify");
  const std::string& path = args[0];
  Bytes file = ReadWholeFile(path);
  PeImage image;
  std::string why = ReadPeImage(file.data(), file.size(), &image, PeSignature::Allowed);
  if (!why.empty()) Fail(path, why);
  const ResourceItem* package = FindUpdaterResource(image, IDR_PACKAGE);
  const ResourceItem* record = FindUpdaterResource(image, IDR_DIGESTS);
  if (!package) Fail(path, "holds no update package");
  if (!record)
    Fail(path, "carries no digests to check its package against (not made by 'fa2 make-updater' "
               "of this version)");
  PackageDigests digests;
  uint32_t size = static_cast<uint32_t>(package->size);
  if (!ReadDigestRecord(record->data, static_cast<uint32_t>(record->size), &digests))
    Fail(path, "damaged: its digests cannot be read");
  PackageDamage damage = CheckWholePackage(package->data, size, digests);
  if (damage != PackageWhole) Fail(path, std::string("damaged: ") + DamageText(damage));
  UpdatePackage* opened = OpenPackageBytes(package->data, size, nullptr);
  Bytes buffer(kEntryBufferSize);
  for (uint32_t i = 0; i < opened->header.entryCount; ++i) {
    uint8_t digest[kSha256Size];
    char name[kEntryNameField + 1];
    EntryNameText(opened->entries[i], name);
    if (EntryDigest(opened, i, package->data, size, buffer.data(), digest) != EntryDataOk ||
        !std::equal(digest, digest + kSha256Size, digests.entryDigests + i * kSha256Size)) {
      FreeBlock(opened);
      Fail(path, "damaged: entry " + std::to_string(i) + " (" + name +
                     ") is not the bytes its digest names");
    }
  }
  uint32_t count = opened->header.entryCount;
  FreeBlock(opened);
  Sha256 hash;
  Sha256Begin(&hash);
  Sha256Add(&hash, file.data(), file.size());
  uint8_t whole[kSha256Size];
  Sha256End(&hash, whole);
  PrintText(stdout, path + ": the package and its " + std::to_string(count) +
                        " entries are the bytes that were packed\n");
  PrintText(stdout, Hex(whole, kSha256Size) + "  " + path + "\n");
  return 0;
}

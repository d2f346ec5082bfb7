#include "tools/fa2/check_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/bounded_text.h"
#include "config/ini_text.h"
#include "config/tokenizer.h"
#include "config/update_items.h"
#include "engine/paths.h"
#include "package/block.h"
#include "package/entry_data.h"
#include "package/entry_name.h"
#include "package/open_package.h"
#include "tools/fa2/host.h"
#include "tools/fa2/setup_check.h"
#include "tools/fa2/tool_errors.h"
#include "tools/fa2/tool_files.h"

namespace {

const char kScriptName[] = "UPDATE.INI";
// The identity start-up reads from section "SETUP"; the first one missing
// stops the updater.
const char* const kIdentityKeys[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
// Install modes are the install selections of SETUP.INI, at most three.
constexpr int kInstallModes = 3;
// Two installation folders of different names: a destination that climbs
// out of the folder and back in by the folder's own name stays inside one of
// them only, so an item inside both is inside every installation.
const char* const kInstallations[] = {"C:\\GAME", "D:\\GAMES\\TITLE"};

std::string Quoted(const std::string& cp932) { return "'" + ShownName(cp932) + "'"; }

struct Checker {
  const UpdatePackage* package;
  const SetupFacts* setup;  // null without --setup
  IniText ini;
  std::vector<ScriptFinding> findings;
  int updateLine = 1;  // where findings about the lists as a whole go

  void Add(int line, bool error, const std::string& key, const std::string& what) {
    findings.push_back({kScriptName, line > 0 ? line : 1, error, key, what});
  }

  // The value as the updater reads it (260-byte buffer), empty when missing.
  std::string Read(const char* section, const char* key) const {
    char value[kPathCapacity];
    size_t n = ReadIniString(ini, section, key, value, sizeof value);
    return n ? std::string(value) : std::string();
  }
  int LineOf(const char* section, const char* key, int fallback) const {
    const IniTextKey* k = FindIniKey(ini, section, key);
    return k ? k->line : fallback;
  }

  const PackageEntry* Entry(const char* name) const {
    uint32_t index;
    return FindEntry(package, name, &index) ? &package->entries[index] : nullptr;
  }
};

// ---- encoding ----

// Length of the UTF-8 sequence at p (2 to 4), or 0 when there is none.
size_t Utf8Sequence(const unsigned char* p, size_t left) {
  size_t n = p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
           : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return n;
}

// Line of the first non-ASCII character when the whole script is valid UTF-8
// with some non-ASCII text; 0 otherwise.
int Utf8TextLine(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  int line = 1, first = 0;
  for (size_t i = 0; i < text.size();) {
    if (p[i] < 0x80) {
      if (p[i] == '\n') ++line;
      ++i;
      continue;
    }
    size_t n = Utf8Sequence(p + i, text.size() - i);
    if (n == 0) return 0;
    if (first == 0) first = line;
    i += n;
  }
  return first;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char b) { return static_cast<unsigned char>(b) < 0x80; });
}

void CheckEncoding(Checker& c, const std::string& text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    c.Add(1, true, "",
          "the script starts with a UTF-8 byte-order mark; the updater reads code page 932 "
          "and does not find the first section");
    return;
  }
  if (int line = Utf8TextLine(text)) {
    // Named by the first key whose value is not ASCII: the one the player sees garbled.
    const IniTextKey* first = nullptr;
    for (const IniTextSection& section : c.ini.sections)
      for (const IniTextKey& k : section.keys)
        if ((!first || k.line < first->line) && !IsAscii(k.value)) first = &k;
    c.Add(first ? first->line : line, true, first ? ShownName(first->name) : "",
          "the script is UTF-8 text; the updater reads code page 932 (garbled caption and file "
          "names): save it as code page 932 (Shift_JIS)");
    return;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  int line = 1, reported = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char b = p[i];
    bool bad = false;
    char bytes[16];
    if (IsCp932LeadByte(b)) {
      bool pair = i + 1 < text.size() && IsCp932Character(b, p[i + 1]);
      if (pair) {
        ++i;
      } else {
        bad = true;
        if (i + 1 < text.size())
          std::snprintf(bytes, sizeof bytes, "0x%02X 0x%02X", b, p[i + 1]);
        else
          std::snprintf(bytes, sizeof bytes, "0x%02X", b);
      }
    } else if (b == 0x80 || b == 0xA0 || b >= 0xFD) {
      bad = true;
      std::snprintf(bytes, sizeof bytes, "0x%02X", b);
    }
    if (bad && reported != line) {
      reported = line;
      c.Add(line, true, "",
            std::string("text that is not code page 932 (bytes ") + bytes +
                "); the updater reads it as another character");
    }
    if (b == '\n' || (b == '\r' && (i + 1 == text.size() || p[i + 1] != '\n'))) ++line;
  }
}

// ---- sections and keys the updater never reads ----

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// The number of a list key ("UpdateFile07" gives 7 with digits "07"); -1 for
// other names.
int ListNumber(const std::string& name, const char* list, std::string* digits) {
  if (!StartsWithNoCase(name, list)) return -1;
  *digits = name.substr(std::strlen(list));
  if (digits->empty() || digits->size() > 6) return -1;
  for (char d : *digits)
    if (d < '0' || d > '9') return -1;
  return std::stoi(*digits);
}

void CheckSectionsAndKeys(Checker& c, const int listEnd[2]) {
  const char* const lists[2] = {"UpdateFile", "CopyFile"};
  for (const char* name : {"SETUP", "UPDATE"}) {
    const IniTextSection* first = FindIniSection(c.ini, name);
    if (!first) continue;
    for (const IniTextSection& s : c.ini.sections)
      if (&s != first && SameIniName(s.name, name))
        c.Add(s.line, false, "[" + ShownName(s.name) + "]",
              "a second [" + std::string(name) + "]: the updater reads only the first (line " +
                  std::to_string(first->line) + "), never the keys here");
    bool isUpdate = std::strcmp(name, "UPDATE") == 0;
    for (const IniTextKey& k : first->keys) {
      if (k.name.empty() || k.name[0] == ';') continue;
      if (!k.hasEquals) {
        c.Add(k.line, false, "", Quoted(k.name) + ": a line without '=' gives no value");
        continue;
      }
      const IniTextKey* found = FindIniKey(c.ini, name, k.name.c_str());
      if (found != &k) {
        c.Add(k.line, false, ShownName(k.name),
              "never read: the same key in line " + std::to_string(found->line) + " is read instead");
        continue;
      }
      if (!isUpdate) continue;
      bool known = SameIniName(k.name, "RequiredDiskSpace") || SameIniName(k.name, "OverwriteOnly");
      for (int l = 0; l < 2 && !known; ++l) {
        std::string digits;
        int n = ListNumber(k.name, lists[l], &digits);
        if (n < 0) continue;
        known = true;
        std::string list = lists[l];
        if (digits.size() != 2)
          c.Add(k.line, false, ShownName(k.name),
                "never read: the updater reads " + list + "00 to " + list + "15, two digits");
        else if (n >= kListKeys)
          c.Add(k.line, false, ShownName(k.name), "never read: the list ends at " + list + "15");
        else if (n > listEnd[l]) {
          char gap[32];
          std::snprintf(gap, sizeof gap, "%s%02d", lists[l], listEnd[l]);
          c.Add(k.line, false, ShownName(k.name),
                std::string("never read: the list ends at the missing or empty ") + gap);
        }
      }
      if (!known)
        c.Add(k.line, false, ShownName(k.name), "not a key the updater reads in [UPDATE]");
    }
  }
}

// ---- the lists ----

struct ListItem {
  std::string key;
  int line;
  char mode;          // the mode prefix's character, 0 without one
  std::string entry;  // update items: the package entry's name
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An item whose destination lands outside the installation folder: the
// updater refuses it before it changes anything.
void CheckDestination(Checker& c, const ListItem& item, const char* path, bool copyList) {
  char resolved[kPathCapacity];
  bool outside = false;
  for (const char* root : kInstallations)
    outside = outside || ResolveInside(root, path, resolved) == PathPlace::Outside;
  if (!outside) return;
  c.Add(item.line, true, item.key,
        "destination " + Quoted(path) +
            " lies outside the installation folder: the updater refuses the " +
            (copyList ? "copy" : "item") + " before it changes anything");
}

// An item's mode prefix: a digit, and with --setup one of the installation's
// install selections.
void CheckMode(Checker& c, const ListItem& item) {
  if (!item.mode) return;
  uint32_t mode = static_cast<uint32_t>(static_cast<unsigned char>(item.mode) - '0');
  if (!IsDigit(item.mode)) {
    c.Add(item.line, true, item.key,
          "mode prefix " + Quoted(std::string(1, item.mode)) +
              " is not a digit: no installation takes this item");
  } else if (c.setup && mode >= static_cast<uint32_t>(c.setup->installModes)) {
    int modes = c.setup->installModes;
    c.Add(item.line, true, item.key,
          "mode prefix '" + std::string(1, item.mode) + "': SETUP.INI has " +
              std::to_string(modes) +
              (modes == 1
                   ? " install selection (install mode 0)"
                   : " install selections (install modes 0 to " + std::to_string(modes - 1) + ")") +
              ", so no installation takes this item");
  } else if (!c.setup && mode >= kInstallModes) {
    c.Add(item.line, false, item.key,
          "only install mode " + std::string(1, item.mode) +
              " takes this item, and install modes are 0 to 2 (at most three install "
              "selections)");
  }
}

// A copy item's disc prefix: a digit, and with --setup a disc that SETUP.INI
// names a check file for (disc 0 is no disc: the updater's own folder).
void CheckDisc(Checker& c, const ListItem& item, const CopyItem& copy, const std::string& value) {
  if (copy.disc < 0 || copy.disc > 9) {
    std::string rest = value.substr(item.mode ? 2 : 0);
    c.Add(item.line, true, item.key,
          "disc prefix " + Quoted(rest.substr(0, 1)) +
              " is not a digit (paths are relative to the disc's root): the updater refuses "
              "the copy");
  } else if (c.setup && copy.disc > 0 && !c.setup->discHasCheckFile[copy.disc]) {
    std::string disc = std::to_string(copy.disc);
    c.Add(item.line, true, item.key,
          "disc " + disc + " has no check file in SETUP.INI (DiskCheckFile" + disc +
              " is missing or empty): the updater cannot tell that disc from another and takes "
              "the first CD-ROM drive that holds a disc");
  }
}

// Reads one list as the run does (up to its first missing key) and checks
// each item's prefixes, names and destination. Returns the number of the
// missing key that ends the list (16 when all are there).
int CheckList(Checker& c, bool copyList, std::vector<ListItem>& items) {
  const char* list = copyList ? "CopyFile" : "UpdateFile";
  for (int n = 0; n < kListKeys; ++n) {
    char key[32];
    std::snprintf(key, sizeof key, "%s%02d", list, n);
    std::string value = c.Read("UPDATE", key);
    if (value.empty()) return n;
    ListItem item{key, c.LineOf("UPDATE", key, c.updateLine), 0, ""};
    if (value.size() >= 2 && value[1] == ',') item.mode = value[0];
    uint32_t mode = item.mode ? static_cast<uint32_t>(static_cast<unsigned char>(item.mode) - '0') : 0;
    CheckMode(c, item);
    if (copyList) {
      CopyItem copy;
      ParseCopyValue(value.c_str(), mode, copy);
      CheckDisc(c, item, copy, value);
      CheckDestination(c, item, copy.path, true);
    } else {
      UpdateItem update;
      ParseUpdateValue(value.c_str(), mode, update);
      item.entry = update.path + update.nameOffset;
      std::string problem = EntryNameProblem(item.entry);
      if (!problem.empty())
        c.Add(item.line, true, key, "names the entry " + Quoted(item.entry) + ": " + problem);
      else if (!c.Entry(item.entry.c_str()))
        c.Add(item.line, true, key,
              "names the entry " + Quoted(item.entry) + ", which the package lacks");
      if (problem.empty()) CheckDestination(c, item, update.path, false);
    }
    items.push_back(item);
  }
  return kListKeys;
}

bool ModesMeet(char a, char b) { return a == 0 || b == 0 || a == b; }

void CheckEntries(Checker& c, const std::vector<ListItem>& updates) {
  for (size_t j = 0; j < updates.size(); ++j)
    for (size_t i = 0; i < j; ++i)
      if (ModesMeet(updates[i].mode, updates[j].mode) &&
          SameEntryName(updates[i].entry.c_str(), updates[j].entry.c_str())) {
        c.Add(updates[j].line, false, updates[j].key,
              "names the same entry " + Quoted(updates[j].entry) + " as " + updates[i].key +
                  " (line " + std::to_string(updates[i].line) + ")");
        break;
      }
  for (uint32_t i = 0; i < c.package->header.entryCount; ++i) {
    char name[kEntryNameField + 1];
    EntryNameText(c.package->entries[i], name);
    if (SameEntryName(name, kScriptName)) continue;
    bool named = false;
    for (const ListItem& u : updates) named = named || SameEntryName(u.entry.c_str(), name);
    if (!named)
      c.Add(c.updateLine, false, "[UPDATE]",
            "no UpdateFileXX names the package entry " + Quoted(name) +
                ": it is shipped for nothing");
  }
}

bool ReadFromIni(void* context, const char* key, char* value, size_t capacity) {
  return ReadIniString(*static_cast<const IniText*>(context), "UPDATE", key, value, capacity) > 0;
}

// RequiredDiskSpace against the bytes the largest install mode writes.
void CheckDiskSpace(Checker& c) {
  uint64_t needed = 0;
  for (uint32_t mode = 0; mode < 10; ++mode) {
    UpdateLists lists;
    ReadUpdateLists(ReadFromIni, &c.ini, mode, lists);
    uint64_t bytes = 0;
    for (int i = 0; i < lists.updateCount; ++i)
      if (const PackageEntry* e = c.Entry(lists.updates[i].path + lists.updates[i].nameOffset))
        bytes += e->originalSize;
    needed = std::max(needed, bytes);
  }
  if (needed == 0) return;
  std::string text = c.Read("UPDATE", "RequiredDiskSpace");
  int32_t value = 0;
  if (!text.empty()) ParseDecimal(text.c_str(), value);
  uint32_t required = static_cast<uint32_t>(value);
  if (required >= needed) return;
  int line = c.LineOf("UPDATE", "RequiredDiskSpace", c.updateLine);
  if (required == 0)
    c.Add(line, false, "RequiredDiskSpace",
          "missing or 0: the updater writes " + std::to_string(needed) +
              " bytes without checking the free space");
  else
    c.Add(line, false, "RequiredDiskSpace",
          std::to_string(required) + " is below the " + std::to_string(needed) +
              " bytes of the entries the update writes");
}

}  // namespace

std::vector<ScriptFinding> CheckUpdateScript(const std::string& script,
                                             const UpdatePackage* package,
                                             const SetupFacts* setup) {
  Checker c{package, setup, ParseIniText(script), {}};
  CheckEncoding(c, script);

  const IniTextSection* setupSection = FindIniSection(c.ini, "SETUP");
  for (const char* key : kIdentityKeys)
    if (c.Read("SETUP", key).empty())
      c.Add(c.LineOf("SETUP", key, setupSection ? setupSection->line : 1), true, key,
            setupSection
                ? "missing or empty in [SETUP]: the updater stops at start"
                : "missing: the script has no [SETUP] section, and the updater stops at start");

  if (const IniTextSection* update = FindIniSection(c.ini, "UPDATE")) c.updateLine = update->line;
  std::vector<ListItem> updates, copies;
  int listEnd[2] = {CheckList(c, false, updates), CheckList(c, true, copies)};
  if (updates.empty() && copies.empty())
    c.Add(c.updateLine, true, "UpdateFile00",
          "no UpdateFile00 and no CopyFile00 in [UPDATE]: the update has nothing to do and "
          "stops with \"No 'UpdateFileXX' and 'CopyFileXX'\"");
  CheckSectionsAndKeys(c, listEnd);
  CheckEntries(c, updates);
  CheckDiskSpace(c);

  std::stable_sort(c.findings.begin(), c.findings.end(),
                   [](const ScriptFinding& a, const ScriptFinding& b) { return a.line < b.line; });
  return c.findings;
}

namespace {

// An opened package's directory, freed on every way out.
struct Directory {
  UpdatePackage* package = nullptr;
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory() { FreeBlock(package); }
};

// The directory of the package at path and its UPDATE.INI. False when it
// holds none; fails when the package or its script cannot be read.
bool ReadPackageScript(const Bytes& bytes, const std::string& path, Directory* directory,
                       std::string* script) {
  PackageProblem why;
  uint32_t size = static_cast<uint32_t>(bytes.size());
  directory->package = size ? OpenPackageBytes(bytes.data(), size, &why) : nullptr;
  if (!directory->package) Fail(path, OpenProblemText(size ? why.what : OpenNotPackage));
  uint32_t index;
  if (!FindEntry(directory->package, kScriptName, &index)) return false;
  Bytes buffer(kEntryBufferSize);
  EntryReader reader;
  EntryDataResult result = OpenEntryData(directory->package, index, bytes.data(), size, &reader);
  while (result == EntryDataOk && !reader.finished) {
    const uint8_t* piece;
    size_t length;
    result = ReadEntryPiece(&reader, buffer.data(), &piece, &length);
    if (result == EntryDataOk) script->append(reinterpret_cast<const char*>(piece), length);
  }
  if (result != EntryDataOk) Fail(path, "UPDATE.INI cannot be read from the package");
  return true;
}

CheckReport Report(std::vector<ScriptFinding> findings, const std::string& files) {
  CheckReport report{std::move(findings), "", ""};
  for (const ScriptFinding& f : report.findings) report.lines += FindingLine(f);
  size_t errors = CountErrors(report.findings), warnings = report.findings.size() - errors;
  report.summary = files + ": " + std::to_string(errors) +
                   (errors == 1 ? " error, " : " errors, ") + std::to_string(warnings) +
                   (warnings == 1 ? " warning\n" : " warnings\n");
  return report;
}

}  // namespace

CheckReport CheckPackage(const Bytes& bytes, const std::string& path,
                         const std::string& setupPath) {
  Directory directory;
  std::string script;
  if (!ReadPackageScript(bytes, path, &directory, &script))
    Fail(path, "the package holds no UPDATE.INI");
  std::vector<ScriptFinding> setupFindings;
  SetupFacts facts;
  bool withFacts = false;
  if (!setupPath.empty()) {
    Bytes setup = ReadWholeFile(setupPath);
    withFacts = CheckSetupIni(std::string(setup.begin(), setup.end()), setupPath, script,
                              &setupFindings, &facts);
  }
  std::vector<ScriptFinding> findings =
      CheckUpdateScript(script, directory.package, withFacts ? &facts : nullptr);
  findings.insert(findings.end(), setupFindings.begin(), setupFindings.end());
  return Report(std::move(findings),
                setupPath.empty() ? kScriptName : kScriptName + (" and " + setupPath));
}

std::string FindingLine(const ScriptFinding& f) {
  std::string text =
      f.file + ":" + std::to_string(f.line) + (f.error ? ": error: " : ": warning: ");
  if (!f.key.empty()) text += f.key + ": ";
  return text + f.what + "\n";
}

size_t CountErrors(const std::vector<ScriptFinding>& findings) {
  return static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                           [](const ScriptFinding& f) { return f.error; }));
}

void ReportPackedScript(const Bytes& package, const std::string& path) {
  Directory directory;
  std::string script;
  if (!ReadPackageScript(package, path, &directory, &script)) return;
  std::vector<ScriptFinding> findings = CheckUpdateScript(script, directory.package);
  if (findings.empty()) return;
  CheckReport report = Report(std::move(findings), kScriptName);
  std::fflush(stdout);
  PrintText(stderr, report.lines + report.summary);
}

int CheckCommand(const std::vector<std::string>& args) {
  bool warningsAsErrors = false;
  std::string setupPath;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--warnings-as-errors") {
      warningsAsErrors = true;
    } else if (a == "--setup") {
      if (i + 1 >= args.size()) return UsageError("--setup needs SETUP.INI", "check");
      setupPath = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "' for check", "check");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 1) return UsageError("check needs exactly one PACKAGE", "check");
  const std::string& path = positional[0];
  CheckReport report = CheckPackage(ReadWholeFile(path), path, setupPath);
  PrintText(stdout, report.lines + report.summary);
  size_t errors = CountErrors(report.findings);
  return errors > 0 || (warningsAsErrors && !report.findings.empty()) ? 1 : 0;
}

// The update script check: a sound script has no finding, and each script
// with one mistake gets its finding at the line of the mistake.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "package/open_package.h"
#include "package/package_writer.h"
#include "tools/fa2/check_command.h"

namespace {

// Line numbers of the sound script are those of this list (1-based).
const std::vector<std::string> kSoundScript = {
    "[SETUP]",                      // 1
    "CompanyName=Kuroneko Soft",    // 2
    "GameTitle=星の迷宮",           // 3
    "GameClass=MEIKYU",             // 4
    "GameDir=HoshiMeikyu",          // 5
    "",                             // 6
    "[UPDATE]",                     // 7
    "RequiredDiskSpace=3000",       // 8
    "UpdateFile00=DATA\\A.DAT",     // 9
    "UpdateFile01=1,表\\表.DAT",    // 10: trail bytes 0x5C in folder and name
    "CopyFile00=2:MOVIE\\OP.MPG",   // 11
};
// The package's entries: names and sizes.
const std::vector<std::pair<std::string, size_t>> kEntries = {
    {"UPDATE.INI", 300}, {"A.DAT", 1000}, {"表.DAT", 2000}};

// The directory of a package of kEntries, as fa2 check gets it.
const UpdatePackage* Directory() {
  static std::vector<uint8_t> bytes;
  static UpdatePackage* directory = nullptr;
  if (!directory) {
    std::vector<std::string> data;
    for (const auto& entry : kEntries) data.push_back(std::string(entry.second, 'x'));
    std::vector<PackageInput> inputs;
    for (size_t i = 0; i < kEntries.size(); ++i)
      inputs.push_back(
          {kEntries[i].first, 0, reinterpret_cast<const uint8_t*>(data[i].data()), data[i].size()});
    std::string error;
    PackageOptions store;
    store.store = true;
    EXPECT_TRUE(BuildPackage(inputs, store, &bytes, &error)) << error;
    directory = OpenPackageBytes(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  }
  return directory;
}

struct Edit {
  int line;          // past the end: appended
  const char* text;  // nullptr: the line is removed
};

struct Case {
  const char* mistake;
  std::vector<Edit> edits;
  int line;  // of the expected finding; 0 for none at all
  bool error;
  const char* key;
  size_t errors;  // errors in all
};

const Case kCases[] = {
    {"sound", {}, 0, false, "", 0},
    {"entry in other letter case", {{9, "UpdateFile00=data\\a.dat"}}, 0, false, "", 0},
    {"identity key absent", {{4, "GameKlass=MEIKYU"}}, 1, true, "GameClass", 1},
    {"identity key empty", {{5, "GameDir="}}, 5, true, "GameDir", 1},
    {"entry the package lacks", {{9, "UpdateFile00=DATA\\B.DAT"}}, 9, true, "UpdateFile00", 1},
    {"name over the entry limit",
     {{9, "UpdateFile00=DATA\\VERYLONGNAME.DAT"}},
     9,
     true,
     "UpdateFile00",
     1},
    {"mode prefix not a digit", {{10, "UpdateFile01=x,表\\表.DAT"}}, 10, true, "UpdateFile01", 1},
    {"disc prefix not a digit", {{11, "CopyFile00=C:\\MOVIE\\OP.MPG"}}, 11, true, "CopyFile00", 1},
    {"update item above the folder", {{9, "UpdateFile00=..\\A.DAT"}}, 9, true, "UpdateFile00", 1},
    {"update item back in by name",
     {{9, "UpdateFile00=DATA\\..\\..\\GAME\\A.DAT"}},
     9,
     true,
     "UpdateFile00",
     1},
    {"copy item on a device", {{11, "CopyFile00=2:MOVIE\\CON"}}, 11, true, "CopyFile00", 1},
    {"copy item with a stream", {{11, "CopyFile00=2:MOVIE\\OP.MPG:x"}}, 11, true, "CopyFile00", 1},
    {"no item at all", {{9, nullptr}, {10, nullptr}, {11, nullptr}}, 7, true, "UpdateFile00", 1},
    {"UTF-8 text", {{3, "GameTitle=\xE6\x98\x9F"}, {10, nullptr}}, 3, true, "GameTitle", 1},
    {"not code page 932", {{3, "GameTitle=\x85\x40"}}, 3, true, "", 1},
    {"UTF-8 byte-order mark", {{1, "\xEF\xBB\xBF[SETUP]"}}, 1, true, "", 5},
    {"key after a gap", {{10, "UpdateFile02=1,表\\表.DAT"}}, 10, false, "UpdateFile02", 0},
    {"key numbered 16", {{12, "UpdateFile16=DATA\\A.DAT"}}, 12, false, "UpdateFile16", 0},
    {"key of one digit", {{12, "UpdateFile2=DATA\\A.DAT"}}, 12, false, "UpdateFile2", 0},
    {"RequiredDiskSpace too small",
     {{8, "RequiredDiskSpace=2999"}},
     8,
     false,
     "RequiredDiskSpace",
     0},
    {"RequiredDiskSpace missing", {{8, nullptr}}, 7, false, "RequiredDiskSpace", 0},
    {"entry no item names", {{10, nullptr}}, 7, false, "[UPDATE]", 0},
    {"two items, one entry", {{12, "UpdateFile02=2,BACKUP\\a.dat"}}, 12, false, "UpdateFile02", 0},
    {"install mode that no installation has",
     {{10, "UpdateFile01=7,表\\表.DAT"}},
     10,
     false,
     "UpdateFile01",
     0},
    {"second [UPDATE]", {{12, "[UPDATE]"}}, 12, false, "[UPDATE]", 0},
    {"key given twice", {{12, "UpdateFile00=X.DAT"}}, 12, false, "UpdateFile00", 0},
    {"line without '='", {{12, "UpdateFile02 DATA\\C.DAT"}}, 12, false, "", 0},
    {"misspelt key", {{12, "OverwriteOnyl=1"}}, 12, false, "OverwriteOnyl", 0},
};

std::string Script(const std::vector<Edit>& edits) {
  std::vector<const char*> lines;
  for (const std::string& line : kSoundScript) lines.push_back(line.c_str());
  for (const Edit& e : edits) {
    if (e.line > static_cast<int>(lines.size()))
      lines.push_back(e.text);
    else
      lines[e.line - 1] = e.text;
  }
  std::string text;
  for (const char* line : lines)
    if (line) text += std::string(line) + "\r\n";
  return text;
}

TEST(ScriptCheck, EachMistakeAtItsLine) {
  for (const Case& c : kCases) {
    std::vector<ScriptFinding> findings = CheckUpdateScript(Script(c.edits), Directory());
    std::ostringstream all;
    for (const ScriptFinding& f : findings) all << FindingLine(f);
    SCOPED_TRACE(std::string(c.mistake) + "\n" + all.str());
    if (c.line == 0) {
      EXPECT_TRUE(findings.empty());
      continue;
    }
    bool found = false;
    for (const ScriptFinding& f : findings)
      found = found || (f.line == c.line && f.error == c.error && f.key == c.key);
    EXPECT_TRUE(found) << "expected at line " << c.line << (c.error ? " an error" : " a warning")
                       << " about '" << c.key << "'";
    EXPECT_EQ(CountErrors(findings), c.errors);
  }
}

}  // namespace

#include "tools/fa2/setup_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "config/ini_text.h"
#include "package/entry_name.h"
#include "resources/texts.h"
#include "tools/fa2/host.h"

namespace {

bool ReadFromIniText(void* context, const char* key, char* buffer, size_t capacity) {
  return ReadIniString(*static_cast<const IniText*>(context), "SETUP", key, buffer, capacity) > 0;
}

// The key's line, or the [SETUP] header's, or the first.
int LineOf(const IniText& ini, const char* key) {
  if (const IniTextKey* k = FindIniKey(ini, "SETUP", key)) return k->line;
  const IniTextSection* section = FindIniSection(ini, "SETUP");
  return section && section->line > 0 ? section->line : 1;
}

// A code page 932 text of the updater's as the host's text.
std::string Shown(const char* cp932) {
  std::string text;
  return HostFromEntryName(cp932, &text) ? text : ShownName(cp932);
}

// How the updater ends on a SETUP.INI it refuses, in its own words.
std::string Refusal(const SetupLoad& load) {
  char message[kTextCapacity];
  if (load.problem == SetupProblem::KeyMissing) {
    // Start-up has read the script's identity by then, and from that point
    // a missing key is no longer reported.
    std::snprintf(message, sizeof message, kTextKeyMissing, "SETUP.INI", load.key);
    return "missing or empty in [SETUP]: the updater refuses this SETUP.INI and ends at start "
           "without a message (its text: \"" +
           Shown(message) + "\")";
  }
  std::snprintf(message, sizeof message, SetupProblemText(load.problem), load.key);
  return "the updater refuses this SETUP.INI and ends at start with \"" + Shown(message) + "\"";
}

}  // namespace

bool CheckSetupIni(const std::string& setup, const std::string& file, const std::string& script,
                   std::vector<ScriptFinding>* findings, SetupFacts* facts) {
  IniText ini = ParseIniText(setup);
  size_t first = findings->size();
  auto description = std::make_unique<InstallDescription>();
  char companyName[kPathCapacity] = {}, gameTitle[kPathCapacity] = {}, gameDir[kPathCapacity] = {},
       gameClass[kPathCapacity] = {};
  SetupLoad load{ReadFromIniText, &ini,    description.get(), companyName,
                 gameTitle,       gameDir, gameClass};
  bool loaded = LoadRequiredSetup(load) && LoadOptionalSetup(load);
  if (!loaded) findings->push_back({file, LineOf(ini, load.key), true, load.key, Refusal(load)});

  // The updater finds the installation in the registry by the script's
  // CompanyName and GameDir; the installer wrote SETUP.INI's. The registry
  // compares key names without regard to letter case.
  IniText scriptIni = ParseIniText(script);
  const std::pair<const char*, const char*> identity[] = {{"CompanyName", companyName},
                                                          {"GameDir", gameDir}};
  for (const auto& [key, value] : identity) {
    char theirs[kPathCapacity];
    if (!value[0] || !ReadIniString(scriptIni, "SETUP", key, theirs, sizeof theirs)) continue;
    if (SameEntryName(value, theirs)) continue;
    const IniTextKey* at = FindIniKey(scriptIni, "SETUP", key);
    findings->push_back(
        {file, LineOf(ini, key), true, key,
         "'" + Shown(value) + "' here, '" + Shown(theirs) +
             "' in the update script (UPDATE.INI:" + std::to_string(at ? at->line : 1) +
             "): the updater looks the game up in the registry by the script's value and reports "
             "it as not installed"});
  }
  std::stable_sort(findings->begin() + first, findings->end(),
                   [](const ScriptFinding& a, const ScriptFinding& b) { return a.line < b.line; });
  if (!loaded) return false;
  facts->installModes = description->installSelects > 0 ? description->installSelects : 1;
  for (int disc = 0; disc < kDiscCount; ++disc)
    facts->discHasCheckFile[disc] = description->diskCheckFiles[disc][0] != '\0';
  return true;
}

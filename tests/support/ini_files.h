// Writes INI files for tests. The text is written byte for byte (string
// literals of the tests are code page 932), lines ending in CR LF.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One section's keys in file order; duplicates are allowed.
struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;

  IniSection& Set(const std::string& key, const std::string& value);  // replace or append
  IniSection& Add(const std::string& key, const std::string& value);  // always append
  IniSection& Remove(const std::string& key);
  std::string Text() const;
};

// Writes text to a new file in folder and returns its path. Every call uses a
// new name, so no cached copy of an earlier file can answer for it.
std::string WriteIniFile(const std::string& folder, const std::string& text);

#include "tests/support/ini_files.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

IniSection& IniSection::Set(const std::string& key, const std::string& value) {
  for (auto& entry : keys)
    if (entry.first == key) {
      entry.second = value;
      return *this;
    }
  return Add(key, value);
}

IniSection& IniSection::Add(const std::string& key, const std::string& value) {
  keys.emplace_back(key, value);
  return *this;
}

IniSection& IniSection::Remove(const std::string& key) {
  std::erase_if(keys, [&](const auto& entry) { return entry.first == key; });
  return *this;
}

std::string IniSection::Text() const {
  std::string text = "[" + name + "]\r\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  return text;
}

std::string WriteIniFile(const std::string& folder, const std::string& text) {
  static int serial = 0;
#ifdef _WIN32
  const char* separator = "\\";
#else
  const char* separator = "/";
#endif
  std::string path = folder + separator + "INI" + std::to_string(++serial) + ".INI";
  EXPECT_TRUE(WriteWholeFile(path, text)) << path;
  return path;
}

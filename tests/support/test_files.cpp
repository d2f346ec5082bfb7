#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

bool WriteWholeFile(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
  return WriteWholeFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadWholeFile(const std::string& path) {
  Bytes data;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
  std::fclose(f);
  return data;
}

bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

std::string MakeScratchFolder(const std::string& tag) {
  namespace fs = std::filesystem;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = tag;
  if (info) name += std::string("_") + info->test_suite_name() + "_" + info->name();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  fs::path dir = fs::temp_directory_path() / ("fa2t_" + name);
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  std::string s = dir.string();
  while (!s.empty() && (s.back() == '/' || s.back() == '\\')) s.pop_back();
  return s;
}

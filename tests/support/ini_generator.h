// Random INI files in code page 932 for differential tests: the same file is
// read by the system's INI reader and by code of ours, and every lookup must
// agree. The files hold what update scripts meet in practice and what trips
// readers up: double-byte text (trail bytes 0x5C and 0x5D included),
// half-width katakana, invalid and unassigned sequences (a lead byte before
// a line break or a blank), blanks and full-width blanks around names and
// values, quotes, '=' and brackets inside values, duplicate sections and
// keys, lines without '=', comments, every mix of CR and LF, a missing
// final line break, and values longer than the readers' buffers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct GeneratedIni {
  std::string text;  // the file's bytes
  // (section, key) pairs to look up: every name in the file, in other
  // letter cases and with blanks around, and names that are absent.
  std::vector<std::pair<std::string, std::string>> lookups;
};

// The same seed gives the same file on every host.
GeneratedIni GenerateIniFile(uint32_t seed);

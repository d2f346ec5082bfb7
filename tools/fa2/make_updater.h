// fa2 make-updater: an updater from a prebuilt stub and a package; fa2
// verify: a made updater checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The command's arguments (after "make-updater"); the exit code: 0 made,
// 1 a file could not be used (one line "fa2: WHAT: problem"), 2 wrong usage.
int MakeUpdaterCommand(const std::vector<std::string>& args);

// The digest record (package/package_digests.h) of a package that
// make-updater has accepted (it opens and every entry decodes): the whole
// package's CRC-32 and each entry's SHA-256.
std::vector<uint8_t> DigestRecord(const std::vector<uint8_t>& package);

// fa2 verify UPDATER.EXE: the updater's package checked against the digests
// make-updater recorded, every entry decoded; prints the file's SHA-256.
// 0 whole, 1 damaged or unverifiable, 2 wrong usage.
int VerifyCommand(const std::vector<std::string>& args);

// The value readers: every value the updater takes from an INI file passes
// through these. A missing key (absent, or with an empty value) is reported
// with a configuration error box unless updaterState.quiet is set.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads key of section in file into buffer. The whole capacity is zeroed
// first, so the bytes behind the value are NULs for NextItem. Returns 1 when
// the key has a value (a value cut at capacity - 1 still counts), else 0
// with the buffer all zero.
int ReadIniValue(const char* section, const char* key, char* buffer, size_t capacity,
                 const char* file);

// ReadIniValue on section "SETUP" of updaterState.setupIniPath.
int ReadSetupValue(const char* key, char* buffer, size_t capacity);

// Reads key of SETUP.INI as a decimal integer (at most 19 characters are
// seen). Returns 1 with value written, or 0 with value untouched, so callers
// can apply their defaults.
int ReadSetupInt(const char* key, int32_t& value);

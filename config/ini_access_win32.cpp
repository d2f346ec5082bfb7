#include "config/ini_access.h"

#include <cstring>

#include "base/system.h"
#include "app/updater_state.h"
#include "config/error_boxes.h"
#include "config/tokenizer.h"
#include "resources/texts.h"

namespace {

constexpr size_t kIntCapacity = 20;

// Zero fill and query; true when the key has a value.
bool QueryValue(const char* section, const char* key, char* buffer, size_t capacity,
                const char* file) {
  if (capacity == 0) return false;
  std::memset(buffer, 0, capacity);
  DWORD count = SysGetPrivateProfileString(section, key, "", buffer, static_cast<DWORD>(capacity), file);
  if (count == 0) {
    // Whatever the reader may have left, a missing value is all zero.
    std::memset(buffer, 0, capacity);
    return false;
  }
  return true;
}

// The query, and the box for a missing key, which names the key's place as
// shownAs.
int ReadReported(const char* section, const char* key, char* buffer, size_t capacity,
                 const char* file, const char* shownAs) {
  if (QueryValue(section, key, buffer, capacity, file)) return 1;
  if (!updaterState.quiet) {
    char message[kTextCapacity];
    FormatText(message, kTextKeyMissing, shownAs, key);
    ShowConfigError(message);
  }
  return 0;
}

}  // namespace

int ReadIniValue(const char* section, const char* key, char* buffer, size_t capacity,
                 const char* file) {
  return ReadReported(section, key, buffer, capacity, file, section);
}

int ReadSetupValue(const char* key, char* buffer, size_t capacity) {
  // The installation's own file is named by its file name, not its section.
  return ReadReported("SETUP", key, buffer, capacity, updaterState.setupIniPath, "SETUP.INI");
}

int ReadSetupInt(const char* key, int32_t& value) {
  char text[kIntCapacity];
  if (!ReadSetupValue(key, text, sizeof text)) return 0;
  ParseDecimal(text, value);
  return 1;
}

#include "config/join_path.h"

#include "base/bounded_text.h"

bool JoinPath(char* path, size_t capacity, const char* name) {
  size_t length = 0;
  while (length < capacity && path[length]) ++length;
  if (length == capacity) return false;  // not a terminated text

  // The trail byte of a double-byte character may be 0x5C ('\'), so find
  // where the last character begins by walking from the start.
  size_t last = 0;
  for (size_t i = 0; i < length;) {
    last = i;
    i += IsCp932LeadByte(static_cast<unsigned char>(path[i])) && i + 1 < length ? 2 : 1;
  }
  bool endsInSeparator =
      length > 0 && last == length - 1 && (path[last] == '\\' || path[last] == '/');
  size_t separator = length > 0 && !endsInSeparator ? 1 : 0;

  size_t nameLength = TextLength(name);
  if (length + separator + nameLength + 2 > capacity) return false;

  if (separator) path[length++] = '\\';
  for (size_t i = 0; i < nameLength; ++i) path[length++] = name[i];
  path[length] = '\0';
  path[length + 1] = '\0';
  return true;
}

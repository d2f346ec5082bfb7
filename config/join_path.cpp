#include "config/join_path.h"

#include "base/bounded_text.h"
#include "base/separators.h"

bool JoinPath(char* path, size_t capacity, const char* name) {
  size_t length = 0;
  while (length < capacity && path[length]) ++length;
  if (length == capacity) return false;  // not a terminated text

  // A path may end in either separator; a drive's "C:" gets a backslash.
  bool endsInSeparator =
      length > 0 && LastSeparator(path, length, kBackslash | kSlash) == length - 1;
  size_t separator = length > 0 && !endsInSeparator ? 1 : 0;

  size_t nameLength = TextLength(name);
  if (length + separator + nameLength + 2 > capacity) return false;

  if (separator) path[length++] = '\\';
  for (size_t i = 0; i < nameLength; ++i) path[length++] = name[i];
  path[length] = '\0';
  path[length + 1] = '\0';
  return true;
}

// Path joining for code page 932 paths. Portable.
#pragma once

#include <cstddef>

// Appends name to path (a buffer of capacity bytes), with a backslash between
// them unless path is empty or its last character is '\' or '/', and writes
// a second NUL behind the terminator, so that the result is also a one-entry
// double-NUL list for the shell's file copy. When the result and both NULs do
// not fit, path is left unchanged and the call returns false.
bool JoinPath(char* path, size_t capacity, const char* name);

template <size_t N>
bool JoinPath(char (&path)[N], const char* name) {
  return JoinPath(path, N, name);
}

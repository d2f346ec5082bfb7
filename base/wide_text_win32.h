// Code page 932 text to and from UTF-16 at the system's edge: the one
// conversion of the files that make the system's UTF-16 ("W") calls
// (base/system_win32.cpp, base/file_system_win32.cpp), never through the
// system's own ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/bounded_text.h"

constexpr UINT kCodePage = 932;

// Every text the updater hands over fits its largest buffer, so as many
// UTF-16 units (one per character at most) and a terminator hold it.
constexpr int kWideCapacity = static_cast<int>(kTextCapacity) + 1;

// A code page 932 argument as UTF-16. A null pointer and a numeric
// resource id or atom (MAKEINTRESOURCE) pass unchanged. ok is false when the
// text does not convert; the call is then not made.
struct Wide {
  wchar_t buffer[kWideCapacity];
  const wchar_t* text = nullptr;
  bool ok = true;

  explicit Wide(const char* narrow) {
    if (!narrow) return;
    if (IS_INTRESOURCE(narrow)) {
      text = reinterpret_cast<const wchar_t*>(narrow);
      return;
    }
    ok = MultiByteToWideChar(kCodePage, 0, narrow, -1, buffer, kWideCapacity) > 0;
    text = ok ? buffer : nullptr;
  }
};

// count UTF-16 units (-1: up to and with the terminator) as code page 932
// into text (capacity bytes). Returns the bytes written, or 0 when they do
// not fit or when code page 932 cannot hold every character exactly: no
// substitute '?' and no best-fit look-alike is ever taken.
int ToCodePage932(const wchar_t* wide, int count, char* text, size_t capacity);

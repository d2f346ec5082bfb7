// Bounded copies of NUL-terminated byte strings (code page 932 on Windows).
// Every copy into a fixed buffer in this project goes through these, so none
// can write past its buffer: a text that does not fit is cut at a character
// boundary and the call reports false.
#pragma once

#include <cstddef>

// Capacities in use, terminator included.
constexpr size_t kPathCapacity = 260;   // paths and single INI values
constexpr size_t kTextCapacity = 1024;  // value lists, texts and messages

// True when byte c starts a double-byte character of code page 932
// (0x81-0x9F, 0xE0-0xFC). The one rule for character boundaries in every
// folder: the texts, names and paths of this project are code page 932
// whatever the system's own code page is, so the system's IsDBCSLeadByte
// (which follows that code page) is not asked.
constexpr bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

size_t TextLength(const char* text);

// The longest part of text[0..limit) that does not end inside a double-byte
// character: a lead byte whose second byte lies at or past limit is left out.
// For cutting a text to fit a buffer.
size_t WholeCharacters(const char* text, size_t limit);

// dst = src. Returns false (and keeps as much of src as fits, never ending on
// half a double-byte character) when src does not fit.
bool CopyText(char* dst, size_t capacity, const char* src);
// dst += src, with the same rules. A dst that is not terminated inside its
// capacity is left as it is and the call returns false.
bool AppendText(char* dst, size_t capacity, const char* src);

template <size_t N>
bool CopyText(char (&dst)[N], const char* src) {
  return CopyText(dst, N, src);
}
template <size_t N>
bool AppendText(char (&dst)[N], const char* src) {
  return AppendText(dst, N, src);
}

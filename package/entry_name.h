// Entry names: what a valid one is, and when two are the same. Names are
// code page 932 bytes on every host; the updater's lookup and the fa2 tool
// both decide sameness here, so the tool writes the entry the updater finds.
#pragma once

#include <string>

// True when a and b (NUL-terminated) are the same name without regard to
// letter case: a-z, the full-width Latin, Greek and Cyrillic letters and the
// Roman numerals of code page 932 match their other case; every other
// character only itself. Characters are stepped over whole, so a second byte
// that looks like a letter is never folded. Unlike lstrcmpiA this does not
// depend on the system's code page or on its linguistic rules (which treat
// some unrelated characters as equal, and bytes as text of the system's own
// code page), and it is the same on every host.
bool SameEntryName(const char* a, const char* b);

// Empty when name fits an entry's name field (1 to 14 bytes, a whole number
// of characters, no folder part), else why not, in words without the name.
std::string EntryNameProblem(const std::string& name);

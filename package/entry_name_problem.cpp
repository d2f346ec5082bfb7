// Kept apart from SameEntryName, which the updater links: any std::string
// code in an object the updater links brings in the C++ library's exception
// support, several times the size of the rest of the program.
#include "package/entry_name.h"

#include <string>

#include "base/bounded_text.h"
#include "base/separators.h"
#include "package/fa2_format.h"

std::string EntryNameProblem(const std::string& name) {
  if (name.empty()) return "empty entry name";
  if (name.size() > kEntryNameMax)
    return "entry name is " + std::to_string(name.size()) + " bytes in code page 932; at most " +
           std::to_string(kEntryNameMax) + " fit";
  if (name.find('\0') != std::string::npos) return "entry name contains a NUL byte";
  // No folder or drive part in any form the system reads as one, and no
  // colon anywhere (a file's named stream).
  if (name == "." || name == ".." ||
      LastSeparator(name.data(), name.size(), kBackslash | kSlash | kColon) != kNoSeparator)
    return "entry name is not a plain file name";
  if (WholeCharacters(name.data(), name.size()) != name.size())
    return "entry name ends in half a double-byte character";
  return "";
}

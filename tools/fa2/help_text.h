// The fa2 tool's usage texts, the one place they are written: an overview
// and one text per command, printed by "fa2 help [COMMAND]" and
// "fa2 COMMAND --help". docs/fa2.md holds the same texts; the repository
// check compares them with what the tool prints.
#pragma once

#include <string>

// The overview for an empty command, the command's text, or nullptr for a
// command the tool does not have.
const char* HelpText(const std::string& command);

// "fa2 VERSION", for fa2 --version.
std::string VersionText();

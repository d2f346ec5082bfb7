// How the fa2 tool reports, in one style for every command: a file or
// package that cannot be used is one line "fa2: WHAT: problem" on standard
// error and exit code 1; wrong usage is "fa2: why" and a pointer to the help,
// exit code 2; a warning is one line "fa2: WHAT: warning: problem" and
// changes no exit code. Standard output is flushed first, so the lines keep
// their order when both go to one place.
#pragma once

#include <string>

// A failure on its way to main, which prints it as one line.
struct Failure {
  std::string what;
  std::string problem;
};

[[noreturn]] void Fail(const std::string& what, const std::string& problem);

void Warn(const std::string& what, const std::string& problem);

// Prints why and where help is ("fa2 help COMMAND" when a command is given)
// and returns 2, the exit code of wrong usage.
int UsageError(const std::string& why, const char* command = nullptr);

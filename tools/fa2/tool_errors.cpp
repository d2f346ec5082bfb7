#include "tools/fa2/tool_errors.h"

#include <cstdio>

#include "tools/fa2/host.h"

void Fail(const std::string& what, const std::string& problem) { throw Failure{what, problem}; }

void Warn(const std::string& what, const std::string& problem) {
  std::fflush(stdout);
  PrintText(stderr, "fa2: " + what + ": warning: " + problem + "\n");
}

int UsageError(const std::string& why, const char* command) {
  std::fflush(stdout);
  std::string help = command ? std::string("fa2 help ") + command : "fa2 help";
  PrintText(stderr, "fa2: " + why + "\nTry '" + help + "'.\n");
  return 2;
}

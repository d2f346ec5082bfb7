// The steps file of an end-to-end scenario: one step per line, a verb and
// then words and key=value arguments. Values with blanks are quoted with
// "..." or '...'; {CR} and {LF} stand for a carriage return and a line feed.
// '#' starts a comment line.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Step {
  int line = 0;
  std::string verb;
  std::vector<std::string> words;           // arguments without '='
  std::map<std::string, std::string> args;  // key=value arguments
};

// Splits the text of a steps file into steps. On a syntax error returns
// false with a message naming the line.
bool ParseSteps(const std::string& text, std::vector<Step>& steps, std::string& error);

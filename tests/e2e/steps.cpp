#include "tests/e2e/steps.h"

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Unescape(const std::string& value) {
  return ReplaceAll(ReplaceAll(value, "{CR}", "\r"), "{LF}", "\n");
}

// Reads one token starting at `at`: a bare word, a quoted text, or key=value
// where the value may be quoted. Returns false on an unterminated quote.
bool NextToken(const std::string& line, size_t& at, std::string& key, std::string& value,
               bool& hasKey) {
  hasKey = false;
  key.clear();
  value.clear();
  size_t start = at;
  while (at < line.size() && line[at] != ' ' && line[at] != '=' && line[at] != '"' &&
         line[at] != '\'')
    ++at;
  std::string head = line.substr(start, at - start);
  if (at < line.size() && line[at] == '=') {
    hasKey = true;
    key = head;
    ++at;
  } else {
    value = head;
  }
  if (at < line.size() && (line[at] == '"' || line[at] == '\'') && (hasKey || head.empty())) {
    char quote = line[at++];
    size_t close = line.find(quote, at);
    if (close == std::string::npos) return false;
    value += line.substr(at, close - at);
    at = close + 1;
  } else if (hasKey) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    value = line.substr(at, end - at);
    at = end;
  }
  return true;
}

}  // namespace

bool ParseSteps(const std::string& text, std::vector<Step>& steps, std::string& error) {
  size_t lineStart = 0;
  int lineNumber = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos || line[at] == '#') continue;

    Step step;
    step.line = lineNumber;
    while (at < line.size()) {
      std::string key, value;
      bool hasKey = false;
      if (!NextToken(line, at, key, value, hasKey)) {
        error = "line " + std::to_string(lineNumber) + ": unterminated quote";
        return false;
      }
      if (hasKey) {
        step.args[key] = Unescape(value);
      } else if (step.verb.empty()) {
        step.verb = value;
      } else {
        step.words.push_back(Unescape(value));
      }
      while (at < line.size() && line[at] == ' ') ++at;
    }
    if (step.verb.empty()) {
      error = "line " + std::to_string(lineNumber) + ": no verb";
      return false;
    }
    steps.push_back(step);
  }
  return true;
}

#include "foundation/command_line_tokens.h"

namespace {
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false;
  bool inQuote = false;
  for (const char c : text) {
    if (c == '"') {
      inQuote = !inQuote;
      inArg = true;
    } else if (!inQuote && IsSeparator(c)) {
      if (inArg) args.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(current);
  return args;
}

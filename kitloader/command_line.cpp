#include "kitloader/command_line.h"

namespace {
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string> TokenizeCommandLine(const char* commandLine) {
  std::vector<std::string> args;
  if (!commandLine) return args;
  std::string current;
  bool inArg = false;
  bool inQuote = false;
  for (const char* p = commandLine; *p; ++p) {
    const char c = *p;
    if (inQuote) {
      if (c == '"')
        inQuote = false;
      else
        current += c;
    } else if (IsSeparator(c)) {
      if (inArg) {
        args.push_back(current);
        current.clear();
        inArg = false;
      }
    } else if (c == '"') {
      inQuote = true;
      inArg = true;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(current);
  return args;
}

RunOptions ParseArguments(const std::vector<std::string>& args) {
  RunOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.empty() && (arg[0] == '/' || arg[0] == '-')) {
      for (std::size_t k = 1; k < arg.size(); ++k) {
        switch (arg[k]) {
          case '?':
            options.usage = true;
            return options;
          case 'i':
          case 'I':
            options.installListMode = true;
            break;
          case 's':
          case 'S':
          case 'q':
          case 'Q':
            options.silent = true;
            break;
          case 'v':
          case 'V':
            options.verbose = true;
            break;
          default:
            break;  // other switch letters are ignored
        }
      }
      continue;
    }
    options.installListMode = true;
    options.packages.emplace_back(UString(arg), UString(arg));
  }
  return options;
}

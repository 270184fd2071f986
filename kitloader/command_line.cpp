#include "kitloader/command_line.h"

#include "foundation/command_line_tokens.h"

std::vector<std::string> TokenizeCommandLine(const char* commandLine) {
  return commandLine ? SplitCommandLine(commandLine) : std::vector<std::string>();
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

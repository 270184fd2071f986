#include "kitremove/remove_command_line.h"

#include <cctype>

bool IsClassIdText(const std::string& text) {
  static const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool ok = kShape[i] == 'x' ? std::isxdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == kShape[i];
    if (!ok) return false;
  }
  return true;
}

RemoveOptions ParseRemoveArguments(const std::vector<std::string>& args) {
  RemoveOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.empty() && (arg[0] == '/' || arg[0] == '-')) {
      for (std::size_t k = 1; k < arg.size(); ++k) {
        switch (arg[k] | 0x20) {
          case 's':
          case 'q': options.silent = true; break;
          case 'v': options.verbose = true; break;
          case 'f': options.force = true; break;
          default:
            if (arg[k] == '?') {
              options.usage = true;
              return options;
            }
            if (options.error.empty()) options.error = "unknown switch " + arg;
        }
      }
    } else if (!IsClassIdText(arg)) {
      if (options.error.empty()) options.error = "not a class identifier: " + arg;
    } else {
      options.classIds.push_back(arg);
    }
  }
  if (options.error.empty() && options.classIds.empty()) options.error = "no class identifier";
  return options;
}

#include "userregsvr_args.h"

#include "foundation/command_line_tokens.h"

namespace {

bool IsSwitch(const std::string& arg, char letter) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] | 0x20) == letter;
}

}  // namespace

UserRegisterArgs ParseUserRegisterArgs(const std::string& arguments) {
  UserRegisterArgs result;
  for (const std::string& arg : SplitCommandLine(arguments)) {
    if (IsSwitch(arg, 's')) {
      result.silent = true;
    } else if (IsSwitch(arg, 'r')) {
      result.redirect = true;
    } else if (IsSwitch(arg, 'u')) {
      result.unregister = true;
    } else if (!arg.empty() && (arg[0] == '/' || arg[0] == '-') && arg.size() == 2) {
      result.error = "unknown switch " + arg;
      return result;
    } else if (!result.file.empty()) {
      result.error = "more than one file: " + arg;
      return result;
    } else {
      result.file = arg;
    }
  }
  if (result.error.empty() && result.file.empty()) result.error = "no file to register";
  return result;
}

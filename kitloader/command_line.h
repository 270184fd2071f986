// The program's command line: tokenizing and interpretation. Win32-free.
#pragma once

#include <string>
#include <vector>

#include "foundation/string_lists.h"

// Splits a command line into arguments (SplitCommandLine); a null line has
// none.
std::vector<std::string> TokenizeCommandLine(const char* commandLine);

struct RunOptions {
  bool installListMode = false;  // packages come from the command line
  bool silent = false;           // no progress window, no final box
  bool verbose = false;          // success box at the end
  bool usage = false;            // "/?": show the usage box and exit with 0
  UStringPairList packages;      // command-line packages, key = value = argument
};

// Interprets the arguments after the program path (args[0] is skipped).
// Parsing stops at "?": nothing after it matters.
RunOptions ParseArguments(const std::vector<std::string>& args);

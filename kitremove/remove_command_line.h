// kitremove's command line:
//   kitremove.exe [/s] [/v] [/f] {CLSID} [{CLSID} ...]
// Switch groups as kitloader reads them ("/sv" sets both); /s or /q: silent,
// /v: a success box, /f: remove the files of a control that refuses to
// unregister, /?: the usage box. Win32-free.
#pragma once

#include <string>
#include <vector>

struct RemoveOptions {
  bool silent = false;
  bool verbose = false;
  bool force = false;
  bool usage = false;
  std::vector<std::string> classIds;  // in command-line order, as written
  std::string error;                  // why the command line cannot be used; empty when it can
};

// Whether a text is a class identifier as records name them: braces around
// 8-4-4-4-12 hexadecimal digits.
bool IsClassIdText(const std::string& text);

// Interprets the arguments after the program path (args[0] is skipped).
RemoveOptions ParseRemoveArguments(const std::vector<std::string>& args);

// The command line of the per-user registration application:
//   userregsvr.exe [/s] [/r] [/u] "<file>"
// /s: no user interface; /r: the file's machine-wide class registrations go
// to the current user's classes; /u: unregister instead. Win32-free.
#pragma once

#include <string>

struct UserRegisterArgs {
  bool silent = false;
  bool redirect = false;
  bool unregister = false;
  std::string file;
  std::string error;  // why the command line cannot be used; empty when it can
};

// Reads the arguments after the program name (the command line without it).
UserRegisterArgs ParseUserRegisterArgs(const std::string& arguments);

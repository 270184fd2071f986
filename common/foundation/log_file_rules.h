// Which file the shared log writes into: the decision from what the file
// found under the log's name is. Win32-free.
#pragma once

#include <string>

// What a file found under the log's name is, as far as deciding whether to
// write into it: a link (a reparse point, or a path that led elsewhere), its
// number of names, and its owner and the process's user as SID texts (the
// owner empty when it could not be read).
struct LogFileFacts {
  bool link = false;
  unsigned long links = 1;
  std::string owner;
  std::string user;
};
// Why such a file is not written to: a link would have the log's lines (and
// its rotation) land wherever it leads, a second name would too, and a file
// of another account is that account's to plant. Trusted owners are the
// process's user, the Administrators group and the system.
enum class LogFileRefusal { kNone, kLink, kMoreNames, kForeignOwner };
LogFileRefusal RefuseLogFile(const LogFileFacts& facts);
// The log text of a refusal ("" for kNone).
const char* LogFileRefusalText(LogFileRefusal refusal);

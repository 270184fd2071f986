#include "foundation/log_file_rules.h"

LogFileRefusal RefuseLogFile(const LogFileFacts& facts) {
  if (facts.link) return LogFileRefusal::kLink;
  if (facts.links > 1) return LogFileRefusal::kMoreNames;
  if (facts.owner.empty() || (facts.owner != facts.user && facts.owner != "S-1-5-32-544" && facts.owner != "S-1-5-18"))
    return LogFileRefusal::kForeignOwner;
  return LogFileRefusal::kNone;
}

const char* LogFileRefusalText(LogFileRefusal refusal) {
  switch (refusal) {
    case LogFileRefusal::kLink: return "the log file is a link";
    case LogFileRefusal::kMoreNames: return "the log file has more than one name";
    case LogFileRefusal::kForeignOwner: return "the log file belongs to another account";
    case LogFileRefusal::kNone: break;
  }
  return "";
}

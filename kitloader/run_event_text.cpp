#include <string>

#include "kitloader/run_event.h"

std::string RunEventText(const std::vector<RunEventEntry>& entries, std::int32_t runResult) {
  std::string text = "Result: " + std::to_string(runResult) + "\r\n";
  for (const RunEventEntry& e : entries) {
    if (!e.package.empty()) text += "Package: " + e.package + ", ";
    text += "Class: " + e.classId + ", Version: " + e.version + ", Route: " + e.route +
            ", Result: " + std::to_string(e.result) + "\r\n";
  }
  return text;
}

#include "kitloader/run_event.h"

#include <windows.h>

#include "foundation/errorlog.h"
#include "foundation/handles.h"

void ReportRunEvent(const char* source, std::uint32_t eventId, const std::vector<RunEventEntry>& entries,
                    std::int32_t runResult, bool failed) {
  if (entries.empty() && !failed) return;
  const std::string text = RunEventText(entries, runResult);
  kit::UniqueEventSource log(RegisterEventSourceA(nullptr, source));
  if (!log) {
    LogRecord(kLogWarnings, "ReportRunEvent()",
              UMessage::Format("%1, %2, %3", "cannot register the event source", source,
                               static_cast<unsigned>(GetLastError())));
    return;
  }
  const char* strings[] = {text.c_str()};
  if (!ReportEventA(log.get(), failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, eventId, nullptr, 1, 0,
                    strings, nullptr))
    LogRecord(kLogWarnings, "ReportRunEvent()",
              UMessage::Format("%1, %2", "cannot write the event", static_cast<unsigned>(GetLastError())));
}

// One Application event per run that did something, as the platform's own
// installer writes one per installation: its source is the program
// ("kitloader" or "kitremove"), its text the run's result and, line by line,
// each package or class the run handled with its version, route and result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunEventEntry {
  std::string package;  // the package file; empty for a removal
  std::string classId;
  std::string version;  // as the INF or the record writes it ("1,0,0,1")
  std::string route;    // "LOCAL_MACHINE", "SERVICE", ...; "NONE" when nothing was installed or removed
  std::int32_t result = 0;
};

// The event identifiers of an installation and a removal, as the platform's
// installer numbers them.
constexpr std::uint32_t kRunEventInstall = 1033;
constexpr std::uint32_t kRunEventRemove = 1034;

// The event's text. Win32-free (run_event_text.cpp).
std::string RunEventText(const std::vector<RunEventEntry>& entries, std::int32_t runResult);

// Writes the event to the Application log under the source's name: an
// information event when the run succeeded, an error event when it failed.
// A run that handled nothing and succeeded writes none. Failures to write
// are logged at level 2 and go no further.
void ReportRunEvent(const char* source, std::uint32_t eventId, const std::vector<RunEventEntry>& entries,
                    std::int32_t runResult, bool failed);

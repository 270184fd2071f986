// The process-wide log interface and the log-record convention.
//
// Every unit logs through g_pErrorLog, which is null until the log object
// exists and again after it is destroyed. A record's message is built only
// when the log's level admits it: use the LogRecord macro.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/format_attribute.h"
#include "foundation/m_strings.h"

class IUErrorLog {
 public:
  // Slot order is part of the suite's shared interface; keep it.
  virtual int Open(const char* moduleName) = 0;                                      // 0
  virtual int Close() = 0;                                                            // 1
  virtual int WriteLog(int priority, const char* format, ...) KIT_PRINTF_FORMAT(3, 4);  // 2
  virtual int WriteLog(const char* format, ...) KIT_PRINTF_FORMAT(2, 3);                // 3
  virtual int WriteMessage(int priority, const char* text);                           // 4
  virtual int WriteNotice(const char* text);                                          // 5
  virtual int WriteAlways(const char* text);                                          // 6
  virtual int WriteData(const char* title, const void* data, unsigned length) = 0;   // 7
  virtual int WriteRaw(const void* data, unsigned length) = 0;                        // 8
  virtual int WriteHex(int priority, const void* data, unsigned length);              // 9
  virtual int WriteLine(const char* text) = 0;                                        // 10
  virtual UString GetFileName() const = 0;                                            // 11
  virtual int GetLevel() const { return m_iLevel; }                                   // 12
  virtual void SetLevel(int level);                                                   // 13
  virtual void SetParameter(const char* name, const char* value);                     // 14
  virtual ~IUErrorLog() = default;                                                    // 15

 protected:
  // Read by every thread that logs, changed by the one that reopens the log.
  std::atomic<int> m_iLevel{1};
};

extern IUErrorLog* g_pErrorLog;

// Writes the five-field record "%1, %2, %3, %4, %5\n" (level, source file from
// its last path separator on, line, function name, message) through WriteLine.
void LogWriteRecord(IUErrorLog& log, int level, const char* sourceFile, int line,
                    const char* function, const UString& message);

// The source-file field: the compile-time path from its last backslash on,
// the backslash included ("\\m_io.cpp"); a path built with forward slashes is
// treated the same way. Empty when the path has no separator.
UString LogSourceFileField(const char* path);

// The time of a log line, in UTC.
struct LogLineTime {
  unsigned year, month, day, hour, minute, second, millisecond;
};

// The prefix of every line of the log file:
// "YYYY-MM-DD,hh:mm:ss:mmm, <process>,<thread>,<module>, " with the hour
// padded with a blank, not a zero.
UString FormatLogLinePrefix(const LogLineTime& time, std::uint32_t processId, std::uint32_t threadId,
                            const char* moduleName);

// Appends `length` bytes to `out` as the log file stores them: every line
// feed becomes CR LF, the way a text-mode stream writes it.
void AppendLogFileBytes(std::string& out, const void* data, std::size_t length);

// Log at level `level`: the message expression is evaluated only when the
// current log level admits the record.
#define LogRecord(level, function, message)                                              \
  do {                                                                                  \
    if (IUErrorLog* kl_log_ = g_pErrorLog) {                                            \
      if (kl_log_->GetLevel() >= (level))                                               \
        LogWriteRecord(*kl_log_, (level), __FILE__, __LINE__, (function), (message));  \
    }                                                                                   \
  } while (0)

// Level-48 printf-style trace line "48,,,, <text>".
void ERRORLOGLEVELx(const char* format, ...) KIT_PRINTF_FORMAT(1, 2);

// Log levels used across the program.
enum : int {
  kLogErrors = 1,
  kLogWarnings = 2,
  kLogData = 4,
  kLogTrace = 48,
  kLogEverything = 63,
};

#include "foundation/errorlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

IUErrorLog* g_pErrorLog = nullptr;

namespace {
constexpr std::size_t kWriteLogBuffer = 5120;

KIT_PRINTF_FORMAT(1, 0) UString FormatBounded(const char* format, va_list ap) {
  std::vector<char> buf(kWriteLogBuffer + 1, '\0');
  std::vsnprintf(buf.data(), kWriteLogBuffer + 1, format, ap);
  buf[kWriteLogBuffer] = '\0';  // longer output is cut at 5120 characters
  return UString(buf.data());
}
}  // namespace

int IUErrorLog::WriteLog(int priority, const char* format, ...) {
  if (GetLevel() < priority) return 0;
  UString text;
  if (!format) {
    text = "IUErrorLog::WriteLog(int a_iPriority, LPCTSTR lpszMsg, ...) - template is NULL\n";
  } else {
    va_list ap;
    va_start(ap, format);
    text = FormatBounded(format, ap);
    va_end(ap);
  }
  return priority != 0 ? WriteMessage(priority, text.c_str()) : WriteAlways(text.c_str());
}

int IUErrorLog::WriteLog(const char* format, ...) {
  UString text;
  if (!format) {
    text = "IUErrorLog::WriteLog(LPCTSTR lpszMsg, ...) - template is NULL\n";
  } else {
    va_list ap;
    va_start(ap, format);
    text = FormatBounded(format, ap);
    va_end(ap);
  }
  return WriteAlways(text.c_str());
}

int IUErrorLog::WriteMessage(int priority, const char* text) {
  if (GetLevel() <= 0) return 0;
  return WriteLine(UString::Format("%d,,,, %s", priority, text ? text : "").c_str());
}

int IUErrorLog::WriteNotice(const char* text) {
  if (GetLevel() <= 0) return 0;
  return WriteLine(UString::Format("0,,,, %s", text ? text : "").c_str());
}

int IUErrorLog::WriteAlways(const char* text) {
  return WriteLine(UString::Format("0,,,, %s", text ? text : "").c_str());
}

int IUErrorLog::WriteHex(int priority, const void* data, unsigned length) {
  if (GetLevel() < priority || length == 0 || !data) return 0;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  int written = 0;
  for (unsigned start = 0; start < length; start += 32) {
    UString line;
    for (unsigned i = start; i < length && i < start + 32; ++i) line += UString::Format(" %2X", bytes[i]);
    line += "\n";
    written += WriteLog(priority, "%s", line.c_str());
  }
  return written;
}

void IUErrorLog::SetLevel(int level) {
  if (level == 0) level = 1;
  const int previous = m_iLevel.exchange(level);
  if (previous != level) WriteLog(0, "log level has been changed to %d\n", level);
}

void IUErrorLog::SetParameter(const char*, const char*) {}

UString LogSourceFileField(const char* path) {
  if (!path) return UString();
  const char* back = std::strrchr(path, '\\');
  const char* fwd = std::strrchr(path, '/');
  const char* last = back > fwd ? back : fwd;
  if (!last) return UString();
  return UString("\\") + (last + 1);
}

void AppendLogFileBytes(std::string& out, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes[i] == '\n') out += '\r';
    out += bytes[i];
  }
}

UString FormatLogLinePrefix(const LogLineTime& t, std::uint32_t processId, std::uint32_t threadId,
                            const char* moduleName) {
  return UString::Format("%04u-%02u-%02u,%2u:%02u:%02u:%03u, %u,%u,%s, ", t.year, t.month, t.day, t.hour, t.minute,
                         t.second, t.millisecond, static_cast<unsigned>(processId), static_cast<unsigned>(threadId),
                         moduleName ? moduleName : "");
}

void LogWriteRecord(IUErrorLog& log, int level, const char* sourceFile, int line,
                    const char* function, const UString& message) {
  UString record = UMessage::Format("%1, %2, %3, %4, %5\n", level, LogSourceFileField(sourceFile), line,
                                    function, message);
  log.WriteLine(record.c_str());
}

void ERRORLOGLEVELx(const char* format, ...) {
  IUErrorLog* log = g_pErrorLog;
  if (!log || log->GetLevel() < kLogTrace) return;
  UString text;
  if (!format) {
    text = "ERRORLOGLEVELx() wrong parameter";
  } else {
    std::vector<char> buf(2048);
    for (;;) {
      va_list ap;
      va_start(ap, format);
      int n = std::vsnprintf(buf.data(), buf.size(), format, ap);
      va_end(ap);
      if (n < 0) {
        buf.assign(1, '\0');
        break;
      }
      if (static_cast<std::size_t>(n) < buf.size()) break;
      buf.resize(buf.size() * 2);
    }
    text = buf.data();
  }
  log->WriteLine(UString::Format("%d,,,, %s", kLogTrace, text.c_str()).c_str());
}

#include "foundation/UClasses.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// A copy of text, or null when text is absent, too long or memory is short.
std::unique_ptr<char[]> DupName(const char* text) {
  if (!text) return nullptr;
  std::size_t n = std::strlen(text);
  if (n > UException::kMaxNameLength) return nullptr;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
  if (copy) std::memcpy(copy.get(), text, n + 1);
  return copy;
}

std::unique_ptr<char[]> DupText(const char* text) {
  if (!text) return nullptr;
  std::size_t n = std::strlen(text);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
  if (copy) std::memcpy(copy.get(), text, n + 1);
  return copy;
}

}  // namespace

UException::UException() = default;

UException::UException(int code, const char* file, const char* function, int line, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Build(code, file, function, line, format, ap);
  va_end(ap);
}

UException::UException(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Build(-1, nullptr, nullptr, 0, format, ap);
  va_end(ap);
}

void UException::Build(int code, const char* file, const char* function, int line, const char* format,
                       va_list ap) {
  m_iCode = code;
  if (file) {
    UString field = LogSourceFileField(file);
    m_pFile = DupName(field.empty() ? file : field.c_str());
  }
  m_pFunction = DupName(function);
  m_iLine = line;
  if (!format) {
    m_pMessage = DupText("UException::UException(LPCTSTR lpszMsg, ...) - template parameter is NULL");
  } else {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kMessageBuffer]());
    if (buf) {
      std::vsnprintf(buf.get(), kMessageBuffer, format, ap);  // cut at 5119 characters
      buf[kMessageBuffer - 1] = '\0';
      m_pMessage = std::move(buf);
    }
  }
  LogSelf();
}

void UException::LogSelf() const {
  IUErrorLog* log = g_pErrorLog;
  if (!log) return;
  // Written whatever the level: an exception is always worth a line.
  const bool located = m_pFile || m_pFunction || m_iLine != 0;
  UString message = Message();
  if (located && m_iCode != -1) message = UString::Format("(0x%x) %s", static_cast<unsigned>(m_iCode), Message());
  UString record = UMessage::Format("%1, %2, %3, %4, %5\n", kLogErrors, UString(File()),
                                    located ? SIntToString(m_iLine) : UString(), UString(Function()), message);
  log->WriteLine(record.c_str());
}

void UException::CopyFrom(const UException& other) {
  m_iCode = other.m_iCode;
  m_iLine = other.m_iLine;
  m_pMessage.reset();
  m_pFunction.reset();
  m_pFile.reset();
  bool failed = false;
  if (other.m_pMessage && !(m_pMessage = DupText(other.m_pMessage.get()))) failed = true;
  if (other.m_pFunction && !(m_pFunction = DupText(other.m_pFunction.get()))) failed = true;
  if (other.m_pFile && !(m_pFile = DupText(other.m_pFile.get()))) failed = true;
  if (failed && g_pErrorLog) {
    std::bad_alloc e;
    LogRecord(kLogErrors, "UException::UException()", UString(e.what()));
  }
}

UException::UException(const UException& other) { CopyFrom(other); }

UException& UException::operator=(const UException& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

void UException::SetText(const char* text) {
  m_pFile.reset();
  m_pFunction.reset();
  m_iLine = 0;
  m_iCode = -1;
  m_pMessage = DupText(text ? text : "");
}

void LogCaughtException(const CatchSite& site) {
  IUErrorLog* log = g_pErrorLog;
  if (!log || log->GetLevel() < kLogErrors) return;
  LogWriteRecord(*log, kLogErrors, site.file, site.line, site.function,
                 UString("EXCEPTION caught: ") + site.text + " - EXCEPTION");
}

// The root class, the program's exceptions and the catch-and-log convention.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/errorlog.h"
#include "foundation/format_attribute.h"

class UObject {
 public:
  virtual ~UObject() = default;
};

// A failure raised inside a function. Logs itself (level 1) once, when built
// with a format; copies are deep and do not log.
class UException {
 public:
  enum : std::size_t { kMessageBuffer = 5120, kMaxNameLength = 1000 };

  UException();
  UException(int code, const char* file, const char* function, int line, const char* format, ...)
      KIT_PRINTF_FORMAT(6, 7);
  explicit UException(const char* format, ...) KIT_PRINTF_FORMAT(2, 3);
  UException(const UException& other);
  UException& operator=(const UException& other);
  virtual ~UException() = default;

  // Replaces all texts by the message alone; code -1.
  void SetText(const char* text);

  int Code() const { return m_iCode; }
  const char* Message() const { return m_pMessage ? m_pMessage.get() : ""; }
  const char* Function() const { return m_pFunction ? m_pFunction.get() : ""; }
  const char* File() const { return m_pFile ? m_pFile.get() : ""; }
  int Line() const { return m_iLine; }
  bool HasMessage() const { return static_cast<bool>(m_pMessage); }

 private:
  void Build(int code, const char* file, const char* function, int line, const char* format, va_list ap)
      KIT_PRINTF_FORMAT(6, 0);
  void LogSelf() const;
  void CopyFrom(const UException& other);

  std::unique_ptr<char[]> m_pMessage;
  std::unique_ptr<char[]> m_pFunction;
  std::unique_ptr<char[]> m_pFile;
  int m_iLine = 0;
  int m_iCode = -1;
};

// Leaves a block silently: no texts, no log.
class UBreakException : public UException {
 public:
  UBreakException() = default;
};

// Raise a UException with this place as its location.
#define KL_THROW(code, function, ...) throw UException((code), __FILE__, (function), __LINE__, __VA_ARGS__)

// The catch-and-log convention for a public operation. `body` runs with the
// operation's result variable in scope; the handlers turn what it raises into
// that result:
//   UBreakException  -> result unchanged, no log;
//   UException       -> its code, one record "EXCEPTION caught: <text> - EXCEPTION";
//   anything else    -> -1, the same record.
// `function` is the function-name field of the record, `text` the fixed text
// (often the same). The local exception, when given, receives a copy of what
// was caught.
struct CatchSite {
  const char* function;
  const char* text;
  const char* file;
  int line;
};
#define KL_CATCH_SITE(function, text) (CatchSite{(function), (text), __FILE__, __LINE__})

void LogCaughtException(const CatchSite& site);

template <class Body>
int CatchAndLog(const CatchSite& site, int& result, Body&& body, UException* local = nullptr) noexcept {
  try {
    body();
  } catch (UBreakException&) {
  } catch (UException& e) {
    if (local) *local = e;
    result = e.Code();
    LogCaughtException(site);
  } catch (...) {
    result = -1;
    if (local) local->SetText((UString(site.text) + " - EXCEPTION").c_str());
    LogCaughtException(site);
  }
  return result;
}

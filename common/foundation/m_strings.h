// The program's text value (UString) and the positional message builder
// (UMessage). Narrow text in the ANSI code page throughout.
//
// This header and m_strings.cpp are Win32-free; the wide-text conversions and
// the system error text live in m_textconv.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

class UString {
 public:
  UString() = default;
  UString(const char* text) : m_s(text ? text : "") {}  // NOLINT: implicit by design
  // The first n bytes of text, stopping at a NUL among them; n <= 0 takes the
  // whole text; a null text gives defaultText (or the empty text).
  UString(const char* text, int n, const char* defaultText = nullptr);
  UString(const std::string& s) : m_s(s) {}  // NOLINT
  UString(std::string&& s) : m_s(std::move(s)) {}  // NOLINT

  const char* c_str() const { return m_s.c_str(); }
  const std::string& str() const { return m_s; }
  std::size_t length() const { return m_s.size(); }
  bool empty() const { return m_s.empty(); }
  char operator[](std::size_t i) const { return m_s[i]; }

  UString& operator=(const char* text) { m_s = text ? text : ""; return *this; }
  UString& operator+=(const UString& t) { m_s += t.m_s; return *this; }
  UString& operator+=(const char* t) { if (t) m_s += t; return *this; }
  UString& operator+=(char c) { m_s += c; return *this; }

  // Left part of n bytes, n clamped to 0..length.
  UString Left(int n) const;
  // Middle part; negative first or count count as 0, count clamped.
  UString Mid(int first, int count) const;
  UString Mid(int first) const;
  // Replaces every occurrence of from by to, left to right, without
  // rescanning inserted text. Returns the number of replacements.
  int Replace(const char* from, const char* to);
  // White space is blank, tab, CR, LF, vertical tab and form feed.
  UString Trimmed() const;
  bool EqualsNoCase(const char* other) const;
  bool EndsWithNoCase(const char* suffix) const;

  // printf-style formatting into a buffer sized to fit (never truncated).
  static UString Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 1, 2)))
#endif
      ;

  friend bool operator==(const UString& a, const UString& b) { return a.m_s == b.m_s; }
  friend bool operator!=(const UString& a, const UString& b) { return a.m_s != b.m_s; }
  friend bool operator==(const UString& a, const char* b) { return a.m_s == (b ? b : ""); }
  friend bool operator!=(const UString& a, const char* b) { return !(a == b); }
  friend UString operator+(const UString& a, const UString& b) { return UString(a.m_s + b.m_s); }
  friend UString operator+(const UString& a, const char* b) { return UString(a.m_s + (b ? b : "")); }
  friend UString operator+(const char* a, const UString& b) { return UString((a ? a : "") + b.m_s); }
  friend UString operator+(const UString& a, char c) { return UString(a.m_s + c); }

 private:
  std::string m_s;
};

std::ostream& operator<<(std::ostream& os, const UString& s);

// Number texts used across the program.
UString SIntToString(std::int32_t v);          // "%d"
UString SUIntToString(std::uint32_t v);        // "%u"
UString SUInt64ToString(std::uint64_t v);      // decimal
UString SPointerToString(const void* p);       // "0x" + upper-case hex, pointer width
UString SHex64ToString(std::uint64_t v);       // "0x" + lower-case hex, no leading zeros
bool IsTextWhiteSpace(char c);

// Positional message builder: "%1".."%9" placeholders, filled lowest digit
// first; "%%" becomes "%" in the finished text.
class UMessage {
 public:
  explicit UMessage(const char* templ) : m_template(templ) {}

  UMessage& Arg(int v) { return Substitute(SIntToString(v)); }
  // long is 32 bits on Windows (DWORD, HRESULT, LONG); 64 bits on a native
  // LP64 build, where it is converted whole.
  UMessage& Arg(long v) {
    return Substitute(sizeof v > 4 ? UString(std::to_string(v)) : SIntToString(static_cast<std::int32_t>(v)));
  }
  UMessage& Arg(unsigned v) { return Substitute(SUIntToString(v)); }
  UMessage& Arg(unsigned long v) {
    return Substitute(sizeof v > 4 ? SUInt64ToString(v) : SUIntToString(static_cast<std::uint32_t>(v)));
  }
  UMessage& Arg(unsigned long long v) { return Substitute(SUInt64ToString(v)); }
  UMessage& Arg(const void* p) { return Substitute(SPointerToString(p)); }
  UMessage& Arg(const char* s) { return Substitute(UString(s)); }
  UMessage& Arg(char* s) { return Substitute(UString(s)); }
  UMessage& Arg(const UString& s) { return Substitute(s); }
  UMessage& Arg(const wchar_t* s);  // converted with createString (m_textconv.cpp)
  UMessage& Arg(wchar_t* s) { return Arg(static_cast<const wchar_t*>(s)); }

  // The finished message: every "%%" replaced by "%".
  UString Text() const;

  template <class... Args>
  static UString Format(const char* templ, const Args&... args) {
    static_assert(sizeof...(Args) <= 6, "UMessage::Format takes up to six arguments");
    UMessage m(templ);
    m.m_appendSurplus = true;
    (m.Arg(args), ...);
    return m.Text();
  }

 private:
  UMessage& Substitute(const UString& argText);

  UString m_template;
  bool m_appendSurplus = false;
};

#include "foundation/m_strings.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

UString::UString(const char* text, int n, const char* defaultText) {
  if (!text) {
    m_s = defaultText ? defaultText : "";
    return;
  }
  if (n <= 0) {
    m_s = text;
    return;
  }
  const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(n));
  std::size_t len = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text)
                        : static_cast<std::size_t>(n);
  m_s.assign(text, len);
}

UString UString::Left(int n) const {
  if (n <= 0) return UString();
  std::size_t k = static_cast<std::size_t>(n);
  return UString(m_s.substr(0, k < m_s.size() ? k : m_s.size()));
}

UString UString::Mid(int first, int count) const {
  if (first < 0) first = 0;
  if (count < 0) count = 0;
  std::size_t f = static_cast<std::size_t>(first);
  if (f >= m_s.size()) return UString();
  return UString(m_s.substr(f, static_cast<std::size_t>(count)));
}

UString UString::Mid(int first) const {
  if (first < 0) first = 0;
  std::size_t f = static_cast<std::size_t>(first);
  if (f >= m_s.size()) return UString();
  return UString(m_s.substr(f));
}

int UString::Replace(const char* from, const char* to) {
  if (!from || !*from) return 0;
  const std::size_t fromLen = std::strlen(from);
  const std::string repl = to ? to : "";
  int count = 0;
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = m_s.find(from, pos, fromLen);
    if (hit == std::string::npos) break;
    out.append(m_s, pos, hit - pos);
    out += repl;
    pos = hit + fromLen;
    ++count;
  }
  if (count) {
    out.append(m_s, pos, std::string::npos);
    m_s.swap(out);
  }
  return count;
}

bool IsTextWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

UString UString::Trimmed() const {
  std::size_t b = 0, e = m_s.size();
  while (b < e && IsTextWhiteSpace(m_s[b])) ++b;
  while (e > b && IsTextWhiteSpace(m_s[e - 1])) --e;
  return UString(m_s.substr(b, e - b));
}

static char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool UString::EqualsNoCase(const char* other) const {
  if (!other) other = "";
  std::size_t n = std::strlen(other);
  if (n != m_s.size()) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (AsciiLower(m_s[i]) != AsciiLower(other[i])) return false;
  return true;
}

bool UString::EndsWithNoCase(const char* suffix) const {
  if (!suffix) return true;
  std::size_t n = std::strlen(suffix);
  if (n > m_s.size()) return false;
  return UString(m_s.substr(m_s.size() - n)).EqualsNoCase(suffix);
}

UString UString::Format(const char* format, ...) {
  if (!format) return UString();
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int needed = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  if (needed <= 0) {
    va_end(ap2);
    return UString();
  }
  std::vector<char> buf(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(buf.data(), buf.size(), format, ap2);
  va_end(ap2);
  return UString(std::string(buf.data(), static_cast<std::size_t>(needed)));
}

std::ostream& operator<<(std::ostream& os, const UString& s) { return os << s.str(); }

UString SIntToString(std::int32_t v) { return UString(std::to_string(v)); }
UString SUIntToString(std::uint32_t v) { return UString(std::to_string(v)); }
UString SUInt64ToString(std::uint64_t v) { return UString(std::to_string(v)); }

UString SPointerToString(const void* p) {
  char buf[2 + 2 * sizeof(void*) + 1];
  std::snprintf(buf, sizeof buf, "0x%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<std::uintptr_t>(p));
  return UString(buf);
}

UString SHex64ToString(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return UString(buf);
}

// Scans the template for the lowest placeholder digit, stepping over "%%".
static int LowestPlaceholder(const std::string& t) {
  int lowest = -1;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '%' || i + 1 >= t.size()) continue;
    char next = t[i + 1];
    if (next == '%') {
      ++i;
    } else if (next >= '0' && next <= '9') {
      int d = next - '0';
      if (lowest < 0 || d < lowest) lowest = d;
    }
  }
  return lowest;
}

UMessage& UMessage::Substitute(const UString& argText) {
  // Protect percent signs of the argument from later substitutions.
  UString arg(argText);
  arg.Replace("%", "%%");

  const std::string& t = m_template.str();
  int digit = LowestPlaceholder(t);
  if (digit < 0) {
    if (m_appendSurplus) m_template = m_template + ", " + arg;
    return *this;
  }
  std::string out;
  out.reserve(t.size() + arg.length());
  const char want = static_cast<char>('0' + digit);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '%' && i + 1 < t.size()) {
      if (t[i + 1] == '%') {
        out += "%%";
        ++i;
        continue;
      }
      if (t[i + 1] == want) {
        out += arg.str();
        ++i;
        continue;
      }
    }
    out += t[i];
  }
  m_template = UString(std::move(out));
  return *this;
}

UString UMessage::Text() const {
  UString text(m_template);
  text.Replace("%%", "%");
  return text;
}

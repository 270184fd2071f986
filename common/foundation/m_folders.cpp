#include "foundation/m_folders.h"

#include <vector>

#include "foundation/UClasses.h"

namespace {
UString WithoutTrailingBackslash(UString s) {
  if (!s.empty() && s[s.length() - 1] == '\\') s = s.Left(static_cast<int>(s.length()) - 1);
  return s;
}
}  // namespace

UString SGetTempPath() {
  std::vector<char> buf(1000, '\0');
  DWORD n = GetTempPathA(static_cast<DWORD>(buf.size()), buf.data());
  if (n >= buf.size()) {
    buf.assign(n + 2, '\0');
    n = GetTempPathA(static_cast<DWORD>(buf.size()), buf.data());
  }
  if (n == 0 || n >= buf.size()) throw UException("SGetTempPath() - error=%d", static_cast<int>(GetLastError()));
  return WithoutTrailingBackslash(UString(std::string(buf.data(), n)));
}

UString SGetModuleFileName(HMODULE module) {
  std::vector<char> buf(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetModuleFileNameA(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return UString();
    if (n < buf.size() - 1) return UString(std::string(buf.data(), n));
    buf.resize(buf.size() * 2);  // the path was cut: try a larger buffer
  }
}

void SSplitPath(const UString& path, UString* folderWithBackslash, UString* fileName) {
  const std::string& s = path.str();
  std::size_t slash = s.find_last_of('\\');
  if (folderWithBackslash) *folderWithBackslash = slash == std::string::npos ? UString() : UString(s.substr(0, slash + 1));
  if (fileName) *fileName = slash == std::string::npos ? path : UString(s.substr(slash + 1));
}

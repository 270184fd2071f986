#include "foundation/m_folders.h"

#include <vector>

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

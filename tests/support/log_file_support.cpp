#include "support/log_file_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace kittest {

namespace {
bool ReadVariable(const char* name, std::string* value) {
  char buf[MAX_PATH * 2] = {};
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return false;
  *value = buf;
  return true;
}
}  // namespace

ScopedTempFolderEnvironment::ScopedTempFolderEnvironment() {
  m_hadTmp = ReadVariable("TMP", &m_oldTmp);
  m_hadTemp = ReadVariable("TEMP", &m_oldTemp);
  SetEnvironmentVariableA("TMP", m_folder.path().c_str());
  SetEnvironmentVariableA("TEMP", m_folder.path().c_str());
}

ScopedTempFolderEnvironment::~ScopedTempFolderEnvironment() {
  SetEnvironmentVariableA("TMP", m_hadTmp ? m_oldTmp.c_str() : nullptr);
  SetEnvironmentVariableA("TEMP", m_hadTemp ? m_oldTemp.c_str() : nullptr);
}

std::vector<std::string> ReadLogLines(const std::string& path) {
  const std::string text = ReadTextFile(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos) {
      ADD_FAILURE() << "unterminated last line: " << text.substr(start);
      break;
    }
    if (lf == start || text[lf - 1] != '\r') ADD_FAILURE() << "line without CR LF: " << text.substr(start, lf - start);
    std::size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
    lines.push_back(text.substr(start, end - start));
    start = lf + 1;
  }
  return lines;
}

bool SplitLogLine(const std::string& line, const std::string& module, std::string* rest) {
  static const std::regex prefix(R"(^\d{4}-\d{2}-\d{2},[ 12]\d:[0-5]\d:[0-5]\d:\d{3}, \d+,\d+,([^,]*), )");
  std::smatch m;
  if (!std::regex_search(line, m, prefix) || m[1].str() != module) return false;
  if (rest) *rest = m.suffix().str();
  return true;
}

}  // namespace kittest

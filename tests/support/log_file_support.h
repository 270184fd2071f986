// Helpers for tests of the shared log file: a temporary folder that stands in
// for the user's, and the log's lines as they are on disk.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

namespace kittest {

// Points TMP and TEMP of this process at a fresh folder for its lifetime, so
// a log object built meanwhile writes there; restores both afterwards.
class ScopedTempFolderEnvironment {
 public:
  ScopedTempFolderEnvironment();
  ~ScopedTempFolderEnvironment();
  ScopedTempFolderEnvironment(const ScopedTempFolderEnvironment&) = delete;
  ScopedTempFolderEnvironment& operator=(const ScopedTempFolderEnvironment&) = delete;
  const std::string& path() const { return m_folder.path(); }
  std::string LogPath() const { return m_folder / "logterminal.txt"; }

 private:
  TempFolder m_folder;
  std::string m_oldTmp, m_oldTemp;
  bool m_hadTmp = false, m_hadTemp = false;
};

// The file's lines split at CR LF (without them). A line break that is not
// CR LF makes the test fail.
std::vector<std::string> ReadLogLines(const std::string& path);

// True when `line` is "<prefix><rest>" with the prefix of a log line
// ("2026-01-02, 7:05:09:045, 12,34,MODULE, "); `rest` receives the rest.
bool SplitLogLine(const std::string& line, const std::string& module, std::string* rest);

}  // namespace kittest

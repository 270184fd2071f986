#include "platform_facts_support.h"

#include "support/registry_sandbox.h"

namespace kittest {

FactsFile::FactsFile(const std::string& text, const char* variable)
    : m_path(m_folder / "facts.ini"), m_variable(variable) {
  Rewrite(text);
  SetEnvironmentVariableA(variable, m_path.c_str());
  if (m_variable == "KITLOADER_TEST_FACTS") SetEnvironmentVariableA("KITLOADER_TEST_FACTS_SECTION", nullptr);
}

FactsFile::~FactsFile() {
  SetEnvironmentVariableA(m_variable.c_str(), nullptr);
  if (m_variable == "KITLOADER_TEST_FACTS") SetEnvironmentVariableA("KITLOADER_TEST_FACTS_SECTION", nullptr);
}

void FactsFile::Rewrite(const std::string& text) { WriteTextFile(m_path, text); }

WineAppVersion::WineAppVersion(const std::string& exeName, const char* version)
    : key("Software\\Wine\\AppDefaults\\" + exeName) {
  SetRegString(HKEY_CURRENT_USER, key, "Version", version);
}

WineAppVersion::~WineAppVersion() {
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  // There, and readable as the tests read files: a file just renamed into
  // place is still open for the rename, without delete sharing, a moment
  // longer in its writer.
  const auto readable = [&] {
    kit::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid();
  };
  while (!FileExists(path) || !readable()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

std::string FactsProbePath() { return WindowsPathOf(KITLOADER_BUILD_DIR "/tests/facts_probe.exe"); }

}  // namespace kittest

#include "platform_facts_support.h"

#include "support/registry_sandbox.h"

namespace kittest {

FactsFile::FactsFile(const std::string& text) : m_path(m_folder / "facts.ini") {
  Rewrite(text);
  SetEnvironmentVariableA("KITLOADER_TEST_FACTS", m_path.c_str());
  SetEnvironmentVariableA("KITLOADER_TEST_FACTS_SECTION", nullptr);
}

FactsFile::~FactsFile() {
  SetEnvironmentVariableA("KITLOADER_TEST_FACTS", nullptr);
  SetEnvironmentVariableA("KITLOADER_TEST_FACTS_SECTION", nullptr);
}

UsersFile::UsersFile(const std::string& text) {
  WriteTextFile(m_folder / "users.ini", text);
  SetEnvironmentVariableA("KITLOADER_TEST_USERS", (m_folder / "users.ini").c_str());
}

UsersFile::~UsersFile() { SetEnvironmentVariableA("KITLOADER_TEST_USERS", nullptr); }

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
  while (!FileExists(path)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

std::string FactsProbePath() { return WindowsPathOf(KITLOADER_BUILD_DIR "/tests/facts_probe.exe"); }

}  // namespace kittest

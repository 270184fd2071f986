#include "platform_facts_support.h"

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

void FactsFile::Rewrite(const std::string& text) { WriteTextFile(m_path, text); }

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

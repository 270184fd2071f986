// Helpers for tests of the rights helpers and of the test build's platform
// facts (testable/platform_facts_override.cpp).
#pragma once

#include <windows.h>

#include <string>

#include "support/test_support.h"

namespace kittest {

// A facts file for the test build, named by KITLOADER_TEST_FACTS in this
// process (and so in every process it starts) while the object lives; with
// `variable` KITLOADER_TEST_USERS, the accounts of processes ([users]).
class FactsFile {
 public:
  explicit FactsFile(const std::string& text, const char* variable = "KITLOADER_TEST_FACTS");
  ~FactsFile();
  FactsFile(const FactsFile&) = delete;
  FactsFile& operator=(const FactsFile&) = delete;
  const std::string& path() const { return m_path; }
  // Replaces the file's text.
  void Rewrite(const std::string& text);

 private:
  TempFolder m_folder;
  std::string m_path;
  std::string m_variable;
};

// Sets Wine's Windows version for one program name (the real HKCU: the
// program reads it at its start) and removes the setting afterwards.
struct WineAppVersion {
  WineAppVersion(const std::string& exeName, const char* version);
  ~WineAppVersion();
  std::string key;
};

// Waits until another process has created `path` (up to `timeoutMs`, so a
// test that goes wrong ends). True when it exists and can be read.
bool WaitForFile(const std::string& path, DWORD timeoutMs = 60000);

// The Windows path of the test build's probe program.
std::string FactsProbePath();

}  // namespace kittest

// The log file shared by several processes: real writer processes, the real
// HKEY_CURRENT_USER logging settings of the prefix (saved and restored), and
// a temporary folder standing in for the user's.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "kit_build_identity.h"
#include "support/log_file_support.h"

namespace {

constexpr char kModule[] = "WRITER";

// Saves the logging values of the real HKCU, sets a known level, and puts
// everything back afterwards (deleting what did not exist).
class RealLogSettings {
 public:
  RealLogSettings() {
    m_keyExisted = RegOpenKeyExA(HKEY_CURRENT_USER, kLogSettingsKey, 0, KEY_READ, m_key.put()) == ERROR_SUCCESS;
    if (!m_keyExisted)
      RegCreateKeyExA(HKEY_CURRENT_USER, kLogSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.put(), nullptr);
    else
      RegOpenKeyExA(HKEY_CURRENT_USER, kLogSettingsKey, 0, KEY_ALL_ACCESS, m_key.put());
    for (const char* name : {"LogLevel", "MaxLogFileSize"}) {
      Saved saved;
      saved.name = name;
      DWORD size = sizeof saved.value;
      saved.existed = RegQueryValueExA(m_key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved.value),
                                       &size) == ERROR_SUCCESS;
      m_saved.push_back(saved);
    }
    RegDeleteValueA(m_key.get(), "MaxLogFileSize");
    Set("LogLevel", 63);
  }
  ~RealLogSettings() {
    for (const Saved& saved : m_saved) {
      if (saved.existed)
        Set(saved.name, saved.value);
      else
        RegDeleteValueA(m_key.get(), saved.name);
    }
    m_key.reset();
    if (!m_keyExisted) RegDeleteKeyA(HKEY_CURRENT_USER, kLogSettingsKey);
  }
  void Set(const char* name, DWORD value) {
    ASSERT_EQ(RegSetValueExA(m_key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
  }

 private:
  struct Saved {
    const char* name;
    DWORD value = 0;
    bool existed = false;
  };
  kit::UniqueKey m_key;
  bool m_keyExisted = false;
  std::vector<Saved> m_saved;
};

class SharedLog : public ::testing::Test {
 protected:
  // The writers run at medium integrity unless a test names another section
  // of the facts: an elevated writer reads its settings from HKLM alone.
  std::vector<std::pair<std::string, std::string>> Environment(const std::string& section = "process") const {
    const std::string facts = temp / "facts.ini";
    kittest::WriteTextFile(facts, "[process]\nIntegrityLevel=0x2000\n[level0]\nIntegrityLevel=0x2000\n"
                                  "[level1]\nIntegrityLevel=0x3000\n");
    return {{"TMP", temp.path()}, {"TEMP", temp.path()}, {"KITLOADER_TEST_FACTS", facts},
            {"KITLOADER_TEST_FACTS_SECTION", section}};
  }
  static std::string Writer() { return "\"" + kittest::WindowsPathOf(KIT_LOGWRITER_EXE) + "\""; }

  // The lines after the report; every one must carry the prefix.
  std::vector<std::string> Bodies(const std::string& file = "logterminal.txt") const {
    std::vector<std::string> bodies;
    bool inReport = true;
    for (const std::string& line : kittest::ReadLogLines(temp / file)) {
      std::string rest;
      if (kittest::SplitLogLine(line, kModule, &rest)) {
        inReport = false;
        bodies.push_back(rest);
      } else {
        EXPECT_TRUE(inReport) << "a line without its prefix: " << line;
      }
    }
    return bodies;
  }

  RealLogSettings settings;
  kittest::TempFolder temp;
};

// Writers of two integrity levels (so two mutexes) and a limit that forces a
// rotation at about 60% of what they write: every line is in the log or its
// backup, once and whole, and there is no NUL byte in either.
TEST_F(SharedLog, ConcurrentWritersLoseCutAndInterleaveNoLine) {
  const int writers = 4, lines = 10000;
  const DWORD limit = writers * lines * 60;
  settings.Set("MaxLogFileSize", limit);
  std::vector<kittest::ProcessResult> results(writers);
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w)
    threads.emplace_back([&, w] {
      // The writers' integrity levels alternate.
      results[w] = kittest::RunProcess(Writer() + " write " + kModule + " " + std::to_string(w) + " " +
                                           std::to_string(lines),
                                       "", Environment("level" + std::to_string(w % 2)), 300000);
    });
  for (std::thread& t : threads) t.join();
  for (const kittest::ProcessResult& r : results) {
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << "every write of every writer succeeded";
  }

  static const std::regex record(R"(^1, \\logwriter\.cpp, 1, LogWriter\(\), writer (\d+) line (\d+) end$)");
  static const std::regex header(R"(^(0,,,, ( | =+| Location: .+| Locale: .+| Development build: .+)|)"
                                  R"(48,,,, current log level = 63)$)");
  const int blockLines = KITLOADER_DEVELOPMENT_SIGNERS ? 8 : 7;
  std::map<std::pair<int, int>, int> seen;
  int headerLines = 0;
  EXPECT_GT(kittest::ReadTextFile(temp / "logterminal.txt.bak").size(), limit) << "one complete rotation";
  std::vector<std::string> bodies = Bodies("logterminal.txt.bak"), after = Bodies();
  bodies.insert(bodies.end(), after.begin(), after.end());
  for (const char* file : {"logterminal.txt.bak", "logterminal.txt"})
    EXPECT_EQ(kittest::ReadTextFile(temp / file).find('\0'), std::string::npos) << file;
  for (const std::string& body : bodies) {
    std::smatch m;
    if (std::regex_match(body, m, record)) {
      ++seen[{std::stoi(m[1]), std::stoi(m[2])}];
    } else if (std::regex_match(body, header)) {
      ++headerLines;
    } else {
      ADD_FAILURE() << "cut or mixed line: " << body;
    }
  }
  EXPECT_EQ(headerLines % blockLines, 0) << "whole header blocks";
  EXPECT_GT(headerLines, writers * blockLines) << "one per writer, one more after the rotation";
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * lines));
  for (int w = 0; w < writers; ++w)
    for (int n = 1; n <= lines; ++n) EXPECT_EQ((seen[{w, n}]), 1) << "writer " << w << " line " << n;
}

TEST_F(SharedLog, ALevelChangedByAnotherProcessTakesEffectAtTheWritersNextLine) {
  const std::string suffix = std::to_string(GetCurrentProcessId());
  const std::string readyName = "KitLogTestReady_" + suffix, goName = "KitLogTestGo_" + suffix;
  kit::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
  kit::UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, goName.c_str()));
  kittest::ProcessResult result;
  std::thread writer([&] {
    result = kittest::RunProcess(Writer() + " pause " + kModule + " " + readyName + " " + goName, "", Environment());
  });
  const bool writerReady = WaitForSingleObject(ready.get(), 60000) == WAIT_OBJECT_0;
  // 62 still admits every record, so other programs of the prefix that read
  // the same setting meanwhile lose nothing.
  settings.Set("LogLevel", 62);
  SetEvent(go.get());
  writer.join();
  ASSERT_TRUE(writerReady) << "the writer never reached its pause";
  EXPECT_EQ(result.exitCode, 62u) << "the writer's level at its end";

  const std::vector<std::string> bodies = Bodies();
  std::vector<std::string> messages;
  for (const std::string& body : bodies) {
    std::size_t at = body.find(", LogWriter(), ");
    // The development build's notice has its place in the header's own test.
    if (body != "0,,,,  " KITLOADER_BUILD_NOTICE)
      messages.push_back(at == std::string::npos ? body : body.substr(at + 15));
  }
  EXPECT_EQ(bodies.size() - messages.size(), KITLOADER_DEVELOPMENT_SIGNERS ? 2u : 0u) << "one notice per header";
  const std::vector<std::string> expected = {
      "0,,,,  ", "0,,,,  =====================================", "", "", "0,,,,  =====================================",
      "0,,,,  ", "48,,,, current log level = 63", "before change level 1", "before change level 48",
      // The first line after the change is preceded by a fresh header block
      // that shows the new level.
      "0,,,,  ", "0,,,,  =====================================", "", "", "0,,,,  =====================================",
      "0,,,,  ", "48,,,, current log level = 62", "after change first", "after change level 48",
      "after change level 1"};
  ASSERT_EQ(messages.size(), expected.size()) << ::testing::PrintToString(messages);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i].empty())
      EXPECT_TRUE(messages[i].rfind("0,,,,  Location: ", 0) == 0 || messages[i].rfind("0,,,,  Locale: ", 0) == 0)
          << messages[i];
    else
      EXPECT_EQ(messages[i], expected[i]) << "line " << i;
  }
}

}  // namespace

// The log file in this process: settings from a sandboxed registry, the file
// in a temporary folder that stands in for the user's.
#include "foundation/file_error_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/handles.h"
#include "foundation/log_file_rules.h"
#include "foundation/m_folders.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "kit_build_identity.h"
#include "support/log_file_support.h"
#include "support/registry_sandbox.h"

namespace {

using kittest::ReadLogLines;
using kittest::SplitLogLine;

constexpr char kModule[] = "LOGTEST";

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_pErrorLog, nullptr) << "a log object outlived its test";
    // The report's facts, as a real machine has them.
    const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "ProductName", "Microsoft Windows 7");
    kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", "6.1");
  }

  std::vector<std::string> Lines() const { return ReadLogLines(temp.LogPath()); }
  // The text after the prefix of every line written by the log itself.
  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const std::string& line : Lines()) {
      std::string rest;
      if (SplitLogLine(line, kModule, &rest)) bodies.push_back(rest);
    }
    return bodies;
  }
  void SetLevel(HKEY root, DWORD level) { kittest::SetRegDword(root, kLogSettingsKey, "LogLevel", level); }
  // Where this process reads its settings: HKLM alone when elevated (as under Wine).
  const HKEY settings =
      uGetProcessIntegrityLevel(GetCurrentProcess()) >= kIntegrityHigh ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY Settings() const { return settings; }
  void SetMaxSize(DWORD size) { kittest::SetRegDword(Settings(), kLogSettingsKey, "MaxLogFileSize", size); }

  kittest::RegistrySandbox sandbox;
  kittest::ScopedTempFolderEnvironment temp;
};

std::vector<std::string> HeaderBlock(int level) {
  std::vector<std::string> block = {
      "0,,,,  ",
      "0,,,,  =====================================",
      "0,,,,  Location: " + std::string(SGetModuleFileName(nullptr).c_str()),
      "0,,,,  Locale: " + std::string(SGetLocaleName().c_str()),
      "0,,,,  =====================================",
      "0,,,,  ",
  };
  // A build that pins the development signers says so after the locale.
  if (KITLOADER_DEVELOPMENT_SIGNERS) block.insert(block.begin() + 4, "0,,,,  " KITLOADER_BUILD_NOTICE);
  if (level >= 48) block.push_back("48,,,, current log level = " + std::to_string(level));
  return block;
}

// The system report as the log writes it at the top of a new file: CR LF
// line ends and one empty line after it.
bool StartsWithReport(const std::string& fileText) {
  std::string report;
  for (char c : std::string(SGetSystemReport().c_str())) report += c == '\n' ? std::string("\r\n") : std::string(1, c);
  report += "\r\n";
  if (fileText.compare(0, report.size(), report) == 0) return true;
  ADD_FAILURE() << "the file does not start with the report:\n" << report << "\n---\n" << fileText.substr(0, 400);
  return false;
}

TEST_F(LogFile, NewFileGetsReportAndHeaderWithDefaultSettings) {
  UClientFileErrorLog log;
  EXPECT_EQ(g_pErrorLog, &log);
  EXPECT_EQ(log.GetLevel(), 1) << "level 1 until opened";
  EXPECT_EQ(log.GetFileName(), UString(temp.LogPath()));
  ASSERT_EQ(log.Open(kModule), 0);
  EXPECT_EQ(log.GetLevel(), 63);
  EXPECT_EQ(log.MaxFileSize(), 5242880u);
  const int recordLine = __LINE__ + 1;
  LogRecord(kLogErrors, "LogFileTest()", UString("first record"));

  const std::vector<std::string> lines = Lines();
  ASSERT_GT(lines.size(), 9u);
  EXPECT_TRUE(StartsWithReport(kittest::ReadTextFile(temp.LogPath())));
  // The report, one empty line, then the header block and the record.
  std::size_t first = 0;
  while (first < lines.size() && !SplitLogLine(lines[first], kModule, nullptr)) ++first;
  ASSERT_GE(first, 2u);
  EXPECT_EQ(lines[first - 1], "");
  std::vector<std::string> expected = HeaderBlock(63);
  expected.push_back("1, \\file_error_log_test.cpp, " + std::to_string(recordLine) + ", LogFileTest(), first record");
  EXPECT_EQ(Bodies(), expected);
  EXPECT_EQ(lines.size(), first + expected.size()) << "every line after the report carries the prefix";

  // A second Open changes nothing.
  EXPECT_EQ(log.Open("OTHER"), 0);
  EXPECT_EQ(Lines().size(), first + expected.size());
  EXPECT_EQ(log.ModuleName(), kModule);
}

TEST_F(LogFile, LevelComesFromTheFirstPlaceThatHoldsOne) {
  struct Row {
    const char* what;
    DWORD userLevel, machineLevel, norvaneDebug, tessaryDebug;  // 0xFFFFFFFF: not set
    int expected;
  };
  const DWORD unset = 0xFFFFFFFF;
  const Row rows[] = {
      {"nothing set", unset, unset, unset, unset, 63},
      {"HKCU over HKLM", 5, 7, 9, 11, 5},
      {"HKLM when HKCU has none", unset, 7, 9, 11, 7},
      {"older places only without LogLevel", unset, unset, 9, 11, 9},
      {"the oldest place last", unset, unset, unset, 11, 11},
      {"0 is read as is", 0, 7, unset, unset, 0},
  };
  for (const Row& row : rows) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software");
    if (row.userLevel != unset) SetLevel(HKEY_CURRENT_USER, row.userLevel);
    if (row.machineLevel != unset) SetLevel(HKEY_LOCAL_MACHINE, row.machineLevel);
    if (row.norvaneDebug != unset)
      kittest::SetRegDword(HKEY_CURRENT_USER, "Software\\Norvane Networks\\Gatehold", "DebugLevel", row.norvaneDebug);
    if (row.tessaryDebug != unset)
      kittest::SetRegDword(HKEY_CURRENT_USER, "Software\\Tessary\\Gatehold", "DebugLevel", row.tessaryDebug);
    EXPECT_EQ(ReadConfiguredLogLevel(false), row.expected) << row.what;
    // An elevated process reads HKLM alone.
    EXPECT_EQ(ReadConfiguredLogLevel(true), row.machineLevel == unset ? 63 : static_cast<int>(row.machineLevel));
  }
  kittest::SetRegDword(HKEY_CURRENT_USER, kLogSettingsKey, "MaxLogFileSize", 1000);
  EXPECT_EQ(ReadConfiguredMaxLogFileSize(false), 1000u);
  EXPECT_EQ(ReadConfiguredMaxLogFileSize(true), kDefaultMaxLogFileSize);
}

TEST_F(LogFile, LevelZeroIsStoredAsOneAndErrorsAreStillWritten) {
  SetLevel(Settings(), 0);
  SetMaxSize(100000);
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  EXPECT_EQ(log.GetLevel(), 1);
  EXPECT_EQ(log.MaxFileSize(), 100000u);
  LogRecord(kLogErrors, "F()", UString("an error"));
  LogRecord(kLogWarnings, "F()", UString("a warning"));
  ERRORLOGLEVELx("a trace %d\n", 1);
  std::vector<std::string> bodies = Bodies();
  ASSERT_EQ(bodies.size(), HeaderBlock(1).size() + 1) << "no warning and no trace line";
  EXPECT_EQ(bodies.back().find("1, \\file_error_log_test.cpp, "), 0u) << bodies.back();
  EXPECT_NE(bodies.back().find(", F(), an error"), std::string::npos) << bodies.back();
  bodies.pop_back();
  EXPECT_EQ(bodies, HeaderBlock(1));
}

TEST_F(LogFile, FreeFormLinesDataAndHex) {
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  const std::size_t before = Bodies().size();
  EXPECT_EQ(log.WriteLog(2, "warning %d\n", 7), static_cast<int>(std::string("2,,,, warning 7\n").size()));
  log.WriteLog("always %s\n", "x");
  log.WriteLog(0, nullptr);
  log.WriteNotice("notice\n");
  const unsigned char bytes[33] = {0x0A, 0xFF};
  log.WriteHex(2, bytes, sizeof bytes);
  EXPECT_EQ(log.WriteLine(nullptr), -1);
  std::vector<std::string> bodies = Bodies();
  bodies.erase(bodies.begin(), bodies.begin() + static_cast<long>(before));
  const std::string row = "2,,,,   A FF" + [] {
    std::string zeros;
    for (int i = 2; i < 32; ++i) zeros += "  0";
    return zeros;
  }();
  EXPECT_EQ(bodies, (std::vector<std::string>{"2,,,, warning 7", "0,,,, always x",
                                               "0,,,, IUErrorLog::WriteLog(int a_iPriority, LPCTSTR lpszMsg, ...) - "
                                               "template is NULL",
                                               "0,,,, notice", row, "2,,,,   0"}));
}

TEST_F(LogFile, SetParameterRenamesTheModule) {
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  log.SetParameter("other", "X");
  EXPECT_EQ(log.ModuleName(), kModule);
  log.SetParameter("module_name", "RENAMED");
  log.WriteNotice("renamed\n");
  EXPECT_TRUE(SplitLogLine(Lines().back(), "RENAMED", nullptr)) << Lines().back();
}

TEST_F(LogFile, AFileOfExactlyTheLimitIsKeptOneByteMoreIsRotatedAtOpen) {
  const DWORD limit = 3000;
  SetMaxSize(limit);
  kittest::WriteTextFile(temp.LogPath() + ".bak", "an older backup");
  const std::string exact(limit, 'e');
  kittest::WriteTextFile(temp.LogPath(), exact);
  {
    UClientFileErrorLog log;
    ASSERT_EQ(log.Open(kModule), 0);
  }
  std::string text = kittest::ReadTextFile(temp.LogPath());
  EXPECT_EQ(text.compare(0, limit, exact), 0) << "not rotated";
  EXPECT_EQ(text.find("OS Name: "), std::string::npos) << "no report in a file that is not new";
  EXPECT_EQ(kittest::ReadTextFile(temp.LogPath() + ".bak"), "an older backup");

  const std::string over(limit + 1, 'o');
  kittest::WriteTextFile(temp.LogPath(), over);
  {
    UClientFileErrorLog log;
    ASSERT_EQ(log.Open(kModule), 0);
  }
  EXPECT_EQ(kittest::ReadTextFile(temp.LogPath() + ".bak"), over) << "the older backup is replaced";
  text = kittest::ReadTextFile(temp.LogPath());
  EXPECT_TRUE(StartsWithReport(text)) << "the rotated file starts with the report";
  EXPECT_EQ(text.find(std::string(10, 'o')), std::string::npos);
}

TEST_F(LogFile, AnOverflowIsRotatedAtTheNextFiftiethLine) {
  const DWORD limit = 3000;
  SetMaxSize(limit);
  const std::string exact(limit, 'e');
  kittest::WriteTextFile(temp.LogPath(), exact);
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  ASSERT_LT(log.WriteCount(), 49u);
  while (log.WriteCount() < 49) log.WriteNotice("filler\n");
  EXPECT_FALSE(kittest::FileExists(temp.LogPath() + ".bak")) << "the size is looked up at the 50th line only";
  log.WriteNotice("the fiftieth line\n");
  ASSERT_TRUE(kittest::FileExists(temp.LogPath() + ".bak"));
  const std::string backup = kittest::ReadTextFile(temp.LogPath() + ".bak");
  EXPECT_EQ(backup.compare(0, limit, exact), 0);
  EXPECT_NE(backup.find("the fiftieth line\r\n"), std::string::npos);
  const std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(StartsWithReport(kittest::ReadTextFile(temp.LogPath())));
  EXPECT_EQ(Bodies(), HeaderBlock(63)) << "the new file holds the report and a header block only";
}

// A backup held open without sharing keeps the log as it is until the copy
// can be made; a 50th line inside a header block has the size looked up at
// the next line. Either way every line ends up once in the log or its backup.
TEST_F(LogFile, ARotationWaitsForACompleteCopyAndForTheLineAfterAHeader) {
  // A header block of a development build holds one line more.
  const DWORD header = static_cast<DWORD>(HeaderBlock(63).size());
  const struct { bool holdBackup, fiftiethInHeader; DWORD rotatedAt; } cases[] = {
      {0, 0, 50}, {1, 0, 100}, {0, 1, 46 + header}};
  const std::string before(3000, 'e');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rotatedAt);
    SetLevel(Settings(), 63);
    SetMaxSize(3000);
    kittest::WriteTextFile(temp.LogPath(), before);
    DeleteFileA((temp.LogPath() + ".bak").c_str());
    kit::UniqueFile held;  // no sharing: the copy cannot be made while it is open
    if (c.holdBackup) held.reset(CreateFileA((temp.LogPath() + ".bak").c_str(), GENERIC_READ, 0, 0, OPEN_ALWAYS, 0, 0));
    UClientFileErrorLog log;
    ASSERT_EQ(log.Open(kModule), 0);
    int n = 0;
    while (log.WriteCount() < c.rotatedAt && kittest::ReadTextFile(temp.LogPath() + ".bak").size() <= 3000) {
      if (c.fiftiethInHeader && log.WriteCount() == 45) {  // the next line reopens, the header passes the limit
        SetMaxSize(static_cast<DWORD>(kittest::ReadTextFile(temp.LogPath()).size()) + 10);
        SetLevel(Settings(), 62);
      }
      if (log.WriteCount() == 60) held.reset();
      log.WriteNotice(("line " + std::to_string(++n) + "\n").c_str());
    }
    EXPECT_EQ(log.WriteCount(), c.rotatedAt + header) << "rotated at its line, then a header block";
    const std::string both = kittest::ReadTextFile(temp.LogPath() + ".bak") + kittest::ReadTextFile(temp.LogPath());
    EXPECT_EQ(both.compare(0, before.size(), before), 0) << "the backup holds the whole old log";
    for (int i = 1; i <= n; ++i) {
      const std::string line = "0,,,, line " + std::to_string(i) + "\r\n";
      EXPECT_NE(both.find(line), std::string::npos) << line;
      EXPECT_EQ(both.find(line), both.rfind(line)) << line;
    }
  }
}

// A log and its backup planted as second names of other files: a fresh log
// under the name says why, and neither file changes at the open or rotation.
TEST_F(LogFile, ALogPlantedAsASecondNameIsReplacedAndWhatItNamedKept) {
  kittest::TempFolder elsewhere;
  const std::string canary = elsewhere / "canary.txt", backupCanary = elsewhere / "backup.txt";
  kittest::WriteTextFile(canary, "canary");
  kittest::WriteTextFile(backupCanary, "canary");
  ASSERT_TRUE(CreateHardLinkA(temp.LogPath().c_str(), canary.c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkA((temp.LogPath() + ".bak").c_str(), backupCanary.c_str(), nullptr));
  SetMaxSize(3000);
  {
    UClientFileErrorLog log;
    ASSERT_EQ(log.Open(kModule), 0);
    EXPECT_EQ(log.GetFileName(), UString(temp.LogPath())) << "the shared name is kept";
    while (log.WriteCount() < 60) log.WriteNotice((std::string(80, 'x') + "\n").c_str());
  }
  EXPECT_EQ(kittest::ReadTextFile(canary), "canary");
  EXPECT_EQ(kittest::ReadTextFile(backupCanary), "canary");
  const std::string backup = kittest::ReadTextFile(temp.LogPath() + ".bak");
  EXPECT_NE(backup.find("a fresh log file was started, the log file has more than one name"), std::string::npos);
  EXPECT_GT(backup.size(), 3000u) << "rotated";

  // The user, Administrators and the system own files the log writes into.
  const struct { bool link; unsigned long links; const char* owner; LogFileRefusal refusal; } rows[] = {
      {false, 1, "S-1-5-21-1-2-3-1000", LogFileRefusal::kNone}, {false, 1, "S-1-5-32-544", LogFileRefusal::kNone},
      {false, 1, "S-1-5-18", LogFileRefusal::kNone}, {false, 1, "S-1-5-21-1-2-3-1001", LogFileRefusal::kForeignOwner},
      {false, 1, "", LogFileRefusal::kForeignOwner}, {false, 2, "S-1-5-32-544", LogFileRefusal::kMoreNames},
      {true, 1, "S-1-5-32-544", LogFileRefusal::kLink}};
  for (const auto& row : rows)
    EXPECT_EQ(RefuseLogFile({row.link, row.links, row.owner, "S-1-5-21-1-2-3-1000"}), row.refusal) << row.owner;
}

TEST_F(LogFile, ALevelChangeIsPickedUpAtTheNextLineAfterAFreshHeader) {
  SetLevel(Settings(), 63);
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  SetLevel(Settings(), 2);
  log.WriteNotice("after the change\n");
  EXPECT_EQ(log.GetLevel(), 2);
  std::vector<std::string> expected = HeaderBlock(63);
  for (const std::string& line : HeaderBlock(2)) expected.push_back(line);
  expected.push_back("0,,,, after the change");
  EXPECT_EQ(Bodies(), expected);
}

TEST_F(LogFile, AFileThatCannotBeOpenedMakesEveryWriteReturnMinusOne) {
  // A folder where the file should be.
  ASSERT_TRUE(CreateDirectoryA(temp.LogPath().c_str(), nullptr));
  UClientFileErrorLog log;
  EXPECT_NE(log.Open(kModule), 0);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.WriteLine("x\n"), -1);
  EXPECT_EQ(log.WriteNotice("x\n"), -1);
  EXPECT_EQ(log.WriteData("t", "d", 1), -1);
  EXPECT_EQ(log.WriteRaw("d", 1), -1);
  LogRecord(kLogErrors, "F()", UString("dropped"));
  EXPECT_EQ(log.Close(), 0);
  RemoveDirectoryA(temp.LogPath().c_str());
}

TEST_F(LogFile, ClosedLogDropsLinesAndDestructionClearsTheGlobal) {
  {
    UClientFileErrorLog log;
    EXPECT_EQ(log.WriteLine("before open\n"), -1);
    ASSERT_EQ(log.Open(kModule), 0);
    EXPECT_EQ(log.Close(), 0);
    EXPECT_EQ(log.WriteLine("after close\n"), -1);
    {
      UClientFileErrorLog second;
      EXPECT_EQ(g_pErrorLog, &log) << "the first log object stays the process's log";
    }
    EXPECT_EQ(g_pErrorLog, &log);
  }
  EXPECT_EQ(g_pErrorLog, nullptr);
  const std::string text = kittest::ReadTextFile(temp.LogPath());
  EXPECT_EQ(text.find("before open"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
}

TEST_F(LogFile, ThreadsOfOneProcessShareTheObjectWithoutLosingLines) {
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  const DWORD before = log.WriteCount();
  const int threads = 4, lines = 150;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([t] {
      for (int n = 0; n < lines; ++n) LogRecord(kLogErrors, "Thread()", UMessage::Format("thread %1 line %2", t, n));
    });
  for (std::thread& w : writers) w.join();
  EXPECT_EQ(log.WriteCount() - before, static_cast<DWORD>(threads * lines));
  static const std::regex record(R"(^1, \\file_error_log_test\.cpp, \d+, Thread\(\), thread (\d) line (\d+)$)");
  std::vector<std::vector<int>> seen(threads, std::vector<int>(lines, 0));
  for (const std::string& body : Bodies()) {
    std::smatch m;
    if (std::regex_match(body, m, record)) ++seen[std::stoi(m[1])][std::stoi(m[2])];
  }
  for (int t = 0; t < threads; ++t)
    for (int n = 0; n < lines; ++n) EXPECT_EQ(seen[t][n], 1) << "thread " << t << " line " << n;
}

TEST_F(LogFile, ClearEmptiesTheFileAndWritesTheReport) {
  UClientFileErrorLog log;
  ASSERT_EQ(log.Open(kModule), 0);
  log.WriteNotice("old line\n");
  EXPECT_EQ(log.Clear(), 0);
  log.WriteNotice("new line\n");
  const std::string text = kittest::ReadTextFile(temp.LogPath());
  EXPECT_TRUE(StartsWithReport(text));
  EXPECT_EQ(text.find("old line"), std::string::npos);
  EXPECT_NE(text.find("new line"), std::string::npos);
}

}  // namespace

// Helpers shared by the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_strings.h"

namespace kittest {

// A Unix path of the build machine as Wine sees it (drive Z: maps "/").
std::string WindowsPathOf(const std::string& unixPath);
// The Unix path of a Windows path (Wine's own export); empty when unknown.
std::string UnixPathOf(const std::string& windowsPath);
// Makes `link` a Unix symbolic link to `target` (both Windows paths), which
// Wine shows as a reparse point; waits until the link is there.
bool MakeUnixLink(const std::string& target, const std::string& link);
// Removes such a link as it was made (Wine's RemoveDirectory looks through it).
void RemoveUnixLink(const std::string& link);

// A fresh, uniquely named folder under the temporary folder, removed with
// everything in it when the object goes away.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

 private:
  std::string m_path;
};

void WriteTextFile(const std::string& path, const std::string& text);
// The file version of a file's version resource ("1.0.0.1"), "none" without one.
std::string FileVersionOf(const std::string& path);
std::string ReadTextFile(const std::string& path);
bool FileExists(const std::string& path);
void CopyFileOrFail(const std::string& from, const std::string& to);

struct ProcessResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
};

// Runs a command line in `currentFolder` (empty: ours), with extra
// environment variables, and waits up to timeoutMs (then kills it).
ProcessResult RunProcess(const std::string& commandLine, const std::string& currentFolder = "",
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         DWORD timeoutMs = 60000);

// A started process that the test keeps running while it drives it; one
// still running when the object goes away is terminated.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&&) = default;
  ChildProcess& operator=(ChildProcess&&) = default;
  bool started() const { return m_info.process.valid(); }
  DWORD id() const { return m_info.processId; }
  HANDLE handle() const { return m_info.process.get(); }
  // Waits up to timeoutMs for the process to end (then kills it).
  ProcessResult Wait(DWORD timeoutMs = 60000);

 private:
  friend ChildProcess StartProcess(const std::string&, const std::string&,
                                   const std::vector<std::pair<std::string, std::string>>&);
  kit::ProcessInformation m_info;
};

// Starts a command line like RunProcess and returns at once.
ChildProcess StartProcess(const std::string& commandLine, const std::string& currentFolder = "",
                          const std::vector<std::pair<std::string, std::string>>& environment = {});

// A log that keeps its lines in memory; installs itself as g_pErrorLog for
// its lifetime.
class MemoryLog : public IUErrorLog {
 public:
  explicit MemoryLog(int level = 63);
  ~MemoryLog() override;
  int Open(const char*) override { return 0; }
  int Close() override { return 0; }
  int WriteData(const char*, const void*, unsigned) override { return 0; }
  int WriteRaw(const void*, unsigned length) override { return static_cast<int>(length); }
  int WriteLine(const char* text) override;
  UString GetFileName() const override { return UString("memory"); }

  std::vector<std::string> Lines() const;
  bool Contains(const std::string& fragment) const;
  std::size_t Count(const std::string& fragment) const;
  void Clear();

 private:
  IUErrorLog* m_previous;
  mutable CRITICAL_SECTION m_lock;
  std::vector<std::string> m_lines;
};

}  // namespace kittest

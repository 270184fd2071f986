// An installation cut short at any moment is finished by the next run: the
// real kitloader.exe is terminated at points spread over a first
// installation of the signed sample control, its update from 1.0, its repair
// and an installation of a package with hooks (by the lines it has logged, or
// by the time since its start), then the same setup.inf runs again and must
// leave exactly what an uninterrupted run leaves: the files, the class, its
// type library and program name, the Code Store Database record and the
// shared counts. A removal by kitremove.exe is cut short the same way and
// finished by the next removal, which must leave what was there before the
// installation. KITLOADER_LONG_TESTS=1 sweeps 60 points each; otherwise 6.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/kitloader_run.h"
#include "foundation/handles.h"
#include "foundation/m_registry.h"
#include "support/sample_control.h"

namespace {

const char kClass[] = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// The key's values and subkeys, one line each, sorted.
void Export(HKEY parent, const std::string& path, std::vector<std::string>& lines) {
  kit::UniqueKey key;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  lines.push_back(path);
  char name[1024];
  BYTE data[4096];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof name, type = 0, size = sizeof data;
    if (RegEnumValueA(key.get(), i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    lines.push_back(path + " [" + name + "] " + std::to_string(type) + ":" +
                    std::string(reinterpret_cast<char*>(data), size));
  }
  std::vector<std::string> children;
  for (DWORD i = 0, n = sizeof name; RegEnumKeyExA(key.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, n = sizeof name)
    children.push_back(name);
  for (const std::string& child : children) Export(parent, path + "\\" + child, lines);
}

void ListFiles(const std::string& folder, std::vector<std::string>& lines) {
  WIN32_FIND_DATAA item;
  kit::UniqueFind search(FindFirstFileA((folder + "\\*").c_str(), &item));
  if (!search) return;
  do {
    const std::string name = item.cFileName, path = folder + "\\" + name;
    if (name == "." || name == "..") continue;
    if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListFiles(path, lines);
    else
      lines.push_back(path + " " + std::to_string(item.nFileSizeLow));
  } while (FindNextFileA(search.get(), &item));
}

// What the machine holds of the control: files, keys and shared counts.
std::string Snapshot() {
  std::vector<std::string> files, lines;
  for (const std::string& folder : kittest::SampleControlFolders()) ListFiles(folder, files);
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const std::string& key : kittest::SampleControlKeys()) Export(hive, key, lines);
    for (const std::string& file : files) {
      const std::string path = file.substr(0, file.rfind(' '));
      lines.push_back(path + " shared " + std::to_string(GetRegistryAsDWORDA(hive, kSharedDlls, path.c_str(), 0, 0)));
    }
  }
  lines.insert(lines.end(), files.begin(), files.end());
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::size_t LineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// The last complete line of a log, without the prefix of the time and process.
std::string LastLine(const std::string& log) {
  const std::size_t end = log.rfind('\n');
  if (end == std::string::npos || end == 0) return "(nothing logged)";
  const std::size_t begin = log.rfind('\n', end - 1) + 1;
  std::string line = log.substr(begin, end - begin);
  for (int field = 0; field < 5 && line.find(", ") != std::string::npos; ++field) line.erase(0, line.find(", ") + 2);
  return line;
}

struct Stopwatch {
  DWORD start = GetTickCount();
  DWORD Elapsed() const { return GetTickCount() - start; }
};

// Runs the stage's program with `arguments`, terminated once its log (which
// is deleted first) has `killAtLine` lines or `killAtMs` have passed (never
// when both are 0); the exit code, and the log's last line in `lastLine`.
// Whatever the killed program had started is ended too.
DWORD RunKilled(const kittest::KitloaderStage& stage, const std::string& arguments, DWORD killAtLine, DWORD killAtMs,
                std::string* lastLine = nullptr) {
  const std::string log = stage.tempFolder() + "\\logterminal.txt";
  DeleteFileA(log.c_str());
  kittest::ChildProcess process = stage.Start(arguments);
  for (Stopwatch clock; WaitForSingleObject(process.handle(), 0) == WAIT_TIMEOUT;) {
    const bool due = killAtLine ? LineCount(kittest::ReadTextFile(log)) >= killAtLine
                                : killAtMs && clock.Elapsed() >= killAtMs;
    if (due) TerminateProcess(process.handle(), 0xDEAD);
    Sleep(1);
  }
  if (lastLine) *lastLine = LastLine(kittest::ReadTextFile(log));
  const DWORD id = process.id(), code = process.Wait().exitCode;
  kittest::EndChildrenOf(id);
  return code;
}

// A stage whose setup.inf lists `package` with the sample control's class.
void StagePackage(const kittest::KitloaderStage& stage, const std::string& package, const std::string& version) {
  const std::string cab = package.substr(0, package.find('-')) + ".cab";
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/" + package + ".cab"), stage.folder() + "\\" + cab);
  stage.WriteSetupInf("[CabFiles]\r\n" + cab + "=1\r\n[" + cab + "]\r\nCLSID=" + kClass + "\r\nFileVersion=" +
                      version + "\r\nfile=thiscab\r\n");
}

TEST(KillPoints, AnInterruptedInstallationIsFinishedByTheNextRun) {
  // With 1.0 installed before each run: the update; and when the class then
  // loses its server: the repair.
  const struct { const char* package; const char* version; bool installed, serverLost; } scenarios[] = {
      {"ombrixctl-1.0.0.1", "1,0,0,1", false, false}, {"ombrixctl-2.0.0.1", "2,0,0,1", true, false},
      {"ombrixctl-1.0.0.1", "1,0,0,1", true, true}, {"hook_inf", "1,0,0,1", false, false}};
  const std::vector<std::string> written = kittest::SampleControlKeys();
  auto forget = [] {
    kittest::ForgetSampleControl();
    for (const std::string& folder : kittest::SampleControlFolders())
      for (const char* file : {"\\ombrixhook.dat", "\\ombrixrun.txt"}) DeleteFileA((folder + file).c_str());
  };
  for (const auto& s : scenarios) {
  SCOPED_TRACE(s.package);
  kittest::KitloaderStage stage, previous;
  StagePackage(stage, s.package, s.version);
  StagePackage(previous, "ombrixctl-1.0.0.1", "1,0,0,1");
  auto prepare = [&] {
    forget();
    if (s.installed) {
      EXPECT_EQ(0u, previous.Run("/s").exitCode) << previous.Log();
    }
    if (s.serverLost) RegDeleteTreeA(HKEY_LOCAL_MACHINE, (written[0] + "\\InprocServer32").c_str());
  };
  const std::string log = stage.tempFolder() + "\\logterminal.txt";
  auto run = [&](DWORD killAtLine, DWORD killAtMs, std::string* lastLine) {
    return RunKilled(stage, "/s", killAtLine, killAtMs, lastLine);
  };

  prepare();
  const Stopwatch clock;
  ASSERT_EQ(0u, run(0, 0, nullptr)) << kittest::ReadTextFile(log);
  const DWORD installMs = clock.Elapsed(), installLines = static_cast<DWORD>(LineCount(kittest::ReadTextFile(log)));
  const std::string clean = Snapshot();
  ASSERT_NE(std::string::npos, clean.find(s.installed ? "InstalledVersion" : "ombrix")) << clean;

  // Even points by the log's lines, odd ones by time, both spread evenly.
  const char* longSweep = std::getenv("KITLOADER_LONG_TESTS");
  const DWORD points = longSweep && *longSweep == '1' ? 60 : 6;
  for (DWORD point = 0; point < points; ++point) {
    prepare();
    const DWORD share = point / 2 + 1, of = (points + 1) / 2 + 1;
    std::string killedAfter;
    const DWORD killed = point % 2 ? run(0, std::max<DWORD>(1, installMs * share / of), &killedAfter)
                                   : run(installLines * share / of, 0, &killedAfter);
    SCOPED_TRACE("point " + std::to_string(point) + " (" + (point % 2 ? "time" : "line") + "), exit " +
                 std::to_string(killed) + ", killed after: " + killedAfter);
    EXPECT_EQ(0u, run(0, 0, nullptr)) << kittest::ReadTextFile(log);
    EXPECT_EQ(clean, Snapshot());
  }

  // The moment no timing hits for sure: registered, and killed before the
  // record (its program name and type library half written, say).
  for (const std::string& key : {written[1], written[2], written[3]}) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  EXPECT_EQ(0u, run(0, 0, nullptr)) << kittest::ReadTextFile(log);
  EXPECT_EQ(clean, Snapshot());
  }
  forget();
}

TEST(KillPoints, AnInterruptedRemovalIsFinishedByTheNextRemoval) {
  kittest::ForgetSampleControl();
  const std::string bare = Snapshot();
  kittest::KitloaderStage installer, remover(kittest::WindowsPathOf(KITREMOVE_EXE), "kitremove.exe");
  StagePackage(installer, "ombrixctl-1.0.0.1", "1,0,0,1");
  const std::string log = remover.tempFolder() + "\\logterminal.txt";
  auto remove = [&](DWORD killAtLine) { return RunKilled(remover, std::string("/s ") + kClass, killAtLine, 0); };
  ASSERT_EQ(0u, installer.Run("/s").exitCode) << installer.Log();
  ASSERT_EQ(0u, remove(0)) << kittest::ReadTextFile(log);
  const DWORD lines = static_cast<DWORD>(LineCount(kittest::ReadTextFile(log)));
  EXPECT_EQ(bare, Snapshot());

  const char* longSweep = std::getenv("KITLOADER_LONG_TESTS");
  const DWORD points = longSweep && *longSweep == '1' ? 60 : 6;
  for (DWORD point = 0; point < points; ++point) {
    ASSERT_EQ(0u, installer.Run("/s").exitCode) << installer.Log();
    const DWORD killAt = std::max<DWORD>(1, lines * (point + 1) / (points + 1));
    const DWORD killed = remove(killAt);
    SCOPED_TRACE("line " + std::to_string(killAt) + ", exit " + std::to_string(killed));
    // Killed after its end, the removal is complete and the record gone.
    const DWORD again = remove(0);
    EXPECT_TRUE(again == 0 || (killed == 0 && again == ERROR_UNKNOWN_PRODUCT)) << kittest::ReadTextFile(log);
    EXPECT_EQ(bare, Snapshot());
  }
  kittest::ForgetSampleControl();
}

}  // namespace

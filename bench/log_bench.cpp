// The cost of the shared log: N lines written through WriteLine from 1 and
// from 4 processes, against the same lines written to a file with plain
// unbuffered writes and no mutex.
//
//   build/wine-run build/bench/log_bench.exe [lines]      (default 20000)
//
// The lines go into a fresh folder under the temporary folder (the user's
// own log is not touched); the time runs from the moment every process is
// ready until the last one has ended.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_io.h"

namespace {

constexpr char kStartEvent[] = "KitLogBenchStart";

UString Record(int n) {
  return UMessage::Format("%1, %2, %3, %4, %5\n", kLogTrace, "\\log_bench.cpp", 42, "LogBench::Run()",
                          UMessage::Format("benchmark line %1 with a message of a typical length", n));
}

void WaitForStart() {
  kit::UniqueHandle start(OpenEventA(SYNCHRONIZE, FALSE, kStartEvent));
  if (start) WaitForSingleObject(start.get(), INFINITE);
}

int RunLogChild(int lines) {
  UClientFileErrorLog log;
  if (log.Open("BENCH") != 0) return 2;
  WaitForStart();
  for (int n = 0; n < lines; ++n) log.WriteLine(Record(n).c_str());
  return 0;
}

int RunPlainChild(int lines, const char* folder) {
  const std::string path = std::string(folder) + "\\plain.txt";
  int fd = _sopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd == -1) return 2;
  std::FILE* f = _fdopen(fd, "at");
  if (!f) return 3;
  std::setvbuf(f, nullptr, _IONBF, 0);
  WaitForStart();
  char prefix[96];
  for (int n = 0; n < lines; ++n) {
    SYSTEMTIME t;
    GetSystemTime(&t);
    std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d,%2d:%02d:%02d:%03d, %lu,%lu,%s, ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentProcessId(), GetCurrentThreadId(), "BENCH");
    std::fputs((std::string(prefix) + Record(n).c_str()).c_str(), f);
  }
  std::fclose(f);
  return 0;
}

// The temporary folder the program started with.
const std::string& TempBase() {
  static const std::string base = [] {
    char path[MAX_PATH + 1] = {};
    GetTempPathA(sizeof path, path);
    return std::string(path);
  }();
  return base;
}

// A fresh folder under it.
std::string MakeFolder() {
  const std::string& base = TempBase();
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + "kit_log_bench_" + std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(++counter);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) return candidate;
  }
  std::fprintf(stderr, "cannot create a folder under %s: %lu\n", base.c_str(), GetLastError());
  std::exit(1);
}

// The benchmark lines in every file of `folder` (the log and any file it was
// rotated into).
int CountLines(const std::string& folder) {
  int lines = 0;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &data)) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::FILE* f = std::fopen((folder + "\\" + data.cFileName).c_str(), "rb");
    if (!f) continue;
    char line[1024];
    while (std::fgets(line, sizeof line, f))
      if (std::strstr(line, "benchmark line ")) ++lines;
    std::fclose(f);
  }
  return lines;
}

// Starts `processes` children that write `total` lines between them; returns
// the seconds from the start signal to the end of the last child and the
// lines that did not arrive in `lost`.
double Measure(const char* mode, int processes, int total, int& lost) {
  const std::string folder = MakeFolder();
  kit::UniqueHandle start(CreateEventA(nullptr, TRUE, FALSE, kStartEvent));
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  // The children's log lands in the scratch folder.
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
  std::vector<kit::ProcessInformation> children(processes);
  for (int i = 0; i < processes; ++i) {
    std::string cmd = "\"" + std::string(self) + "\" child " + mode + " " + std::to_string(total / processes) + " \"" +
                      folder + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      std::fprintf(stderr, "cannot start a child: %lu\n", GetLastError());
      std::exit(1);
    }
    children[i].Adopt(pi);
  }
  Sleep(1000);  // let every child open its file and reach the start line
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  SetEvent(start.get());
  for (auto& child : children) WaitForSingleObject(child.process.get(), INFINITE);
  QueryPerformanceCounter(&end);
  lost = total / processes * processes - CountLines(folder);
  EmptyFolderEx(folder.c_str());
  RemoveDirectoryA(folder.c_str());
  return static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Where a line's time goes: each step that sharing the log across threads,
// processes and integrity levels requires, timed alone in a loop and
// printed in microseconds per line.
void Breakdown(int lines) {
  const std::string folder = MakeFolder();
  const std::string path = folder + "\\steps.txt";
  kit::UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  kit::UniqueFile lockFile(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  kit::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  kit::UniqueHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const std::string line = Record(0).c_str();
  auto time = [&](const char* what, auto&& step) {
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (int n = 0; n < lines; ++n) step();
    QueryPerformanceCounter(&end);
    std::printf("  %-44s %6.1f us per line\n", what,
                1e6 * static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart) / lines);
  };
  std::printf("one line's steps, each alone:\n");
  time("setting-change test (event, no wait)", [&] { WaitForSingleObject(event.get(), 0); });
  time("cross-process mutex (wait and release)", [&] {
    WaitForSingleObject(mutex.get(), 1000);
    ReleaseMutex(mutex.get());
  });
  time("cross-level file lock (lock and unlock)", [&] {
    OVERLAPPED at = {};
    at.OffsetHigh = 0x40000000;  // the byte the log locks, far beyond the end
    LockFileEx(lockFile.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    UnlockFileEx(lockFile.get(), 0, 1, 0, &at);
  });
  time("one appending write of the line", [&] {
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  });
  file.reset();
  lockFile.reset();
  EmptyFolderEx(folder.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "child") == 0) {
    SetEnvironmentVariableA("TMP", argv[4]);
    SetEnvironmentVariableA("TEMP", argv[4]);
    const int lines = std::atoi(argv[3]);
    return std::strcmp(argv[2], "log") == 0 ? RunLogChild(lines) : RunPlainChild(lines, argv[4]);
  }
  const int total = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (total <= 0) {
    std::fprintf(stderr, "usage: log_bench [lines]\n");
    return 1;
  }
  std::printf("%d lines per run\n", total);
  TempBase();  // read before TMP is pointed at the scratch folders

  for (int processes : {1, 4}) {
    int logLost = 0, plainLost = 0;
    const double logSeconds = Measure("log", processes, total, logLost);
    const double plainSeconds = Measure("plain", processes, total, plainLost);
    const double logRate = total / logSeconds, plainRate = total / plainSeconds;
    std::printf("%d process(es): WriteLine %.0f lines/s, plain unbuffered writes %.0f lines/s, ratio %.2f\n",
                processes, logRate, plainRate, logRate / plainRate);
    std::printf("%d process(es): lines lost through WriteLine %d, through plain writes %d\n", processes, logLost,
                plainLost);
    std::printf("RESULT log_%dproc %.0f %.0f %.2f >=0.5\n", processes, logRate, plainRate, logRate / plainRate);
    std::printf("RESULT log_%dproc_lost %d 0 %d =0\n", processes, logLost, logLost);
  }
  Breakdown(total);
  return 0;
}

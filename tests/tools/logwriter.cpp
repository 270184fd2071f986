// A small program of the suite's kind that writes into the shared log, for
// the tests that need several processes:
//   logwriter write <module> <id> <count>        <count> level-1 records
//   logwriter pause <module> <ready> <go>         records before and after a
//                                                 pause on two named events
//   logwriter abandon <mutex>                     takes a named mutex and
//                                                 exits without releasing it
// The exit code is 0 on success (for "pause": the log level at the end).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "foundation/file_error_log.h"
#include "foundation/handles.h"

namespace {

int WriteRecords(const char* module, const char* id, int count) {
  UClientFileErrorLog log;
  if (log.Open(module) != 0) return 2;
  int failures = 0;
  for (int n = 1; n <= count; ++n) {
    UString record = UMessage::Format("%1, %2, %3, %4, %5\n", kLogErrors, "\\logwriter.cpp", 1, "LogWriter()",
                                      UMessage::Format("writer %1 line %2 end", id, n));
    if (log.WriteLine(record.c_str()) <= 0) ++failures;
  }
  return failures == 0 ? 0 : 3;
}

int PauseBetweenRecords(const char* module, const char* readyName, const char* goName) {
  UClientFileErrorLog log;
  if (log.Open(module) != 0) return 200;
  LogRecord(kLogErrors, "LogWriter()", UString("before change level 1"));
  LogRecord(kLogTrace, "LogWriter()", UString("before change level 48"));
  kit::UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName));
  kit::UniqueHandle go(OpenEventA(SYNCHRONIZE, FALSE, goName));
  if (!ready || !go) return 201;
  SetEvent(ready.get());
  if (WaitForSingleObject(go.get(), 60000) != WAIT_OBJECT_0) return 202;
  LogRecord(kLogErrors, "LogWriter()", UString("after change first"));
  LogRecord(kLogTrace, "LogWriter()", UString("after change level 48"));
  LogRecord(kLogErrors, "LogWriter()", UString("after change level 1"));
  return log.GetLevel();
}

int AbandonMutex(const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (!mutex) return 2;
  ExitProcess(0);  // the mutex dies with us, still owned
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "write") == 0) return WriteRecords(argv[2], argv[3], std::atoi(argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "pause") == 0) return PauseBetweenRecords(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "abandon") == 0) return AbandonMutex(argv[2]);
  return 100;
}

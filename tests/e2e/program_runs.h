// Starting kitloader.exe and its test builds for end-to-end tests, and the
// texts the tests expect from the system.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "foundation/handles.h"
#include "support/test_support.h"
#include "support/window_driver.h"
#include "kitloader_run.h"

namespace kittest {

inline constexpr DWORD kCancelled = 4294967294u;

inline std::wstring SystemText(DWORD code) {
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                 code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring text = message ? message : L"";
  if (message) LocalFree(message);
  return text;
}

inline std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// An event the held program's request waits on; set it to let the request
// fail with 1603.
class HoldEvent {
 public:
  HoldEvent() {
    char name[64];
    std::snprintf(name, sizeof name, "kittest_hold_%lu_%lu", GetCurrentProcessId(), ++s_counter);
    m_name = name;
    m_event.reset(CreateEventA(nullptr, TRUE, FALSE, name));
  }
  const std::string& name() const { return m_name; }
  void Release() { SetEvent(m_event.get()); }

 private:
  static inline unsigned long s_counter = 0;
  std::string m_name;
  kit::UniqueHandle m_event;
};

// The held program started on one package; its progress window is up.
struct HeldRun {
  TempFolder folder;
  HoldEvent hold;
  std::string package = folder / "pkg.cab";
  ChildProcess process;
  HWND progress = nullptr;

  explicit HeldRun(const std::string& decision = "2", const std::string& switches = "") {
    // The program's temporary folder (and its log) stays in the test's folder.
    process = StartProcess(Quoted(WindowsPathOf(KITLOADER_HELD_EXE)) + " " + switches + " /i " + Quoted(package),
                           folder.path(),
                           {{"KITTEST_HOLD_EVENT", hold.name()},
                            {"KITTEST_HOLD_DECISION", decision},
                            {"TMP", folder.path()},
                            {"TEMP", folder.path()}});
    if (switches.find('s') == std::string::npos)
      progress = WaitForWindow(process.handle(), process.id(), IsProgressWindow);
  }
};

// What a message box of the program showed; the test pressed its OK button
// and the program then ended with exitCode.
struct AnsweredBox {
  bool shown = false;
  std::wstring caption;
  std::wstring text;
  DWORD exitCode = 0;
};

inline AnsweredBox AnswerMessageBox(ChildProcess& process) {
  AnsweredBox answer;
  HWND box = WaitForWindow(process.handle(), process.id(), IsMessageBox);
  if (box) {
    answer.shown = true;
    answer.caption = WindowText(box);
    answer.text = StaticText(box);
    PressButton(box, IDOK);
  }
  ProcessResult result = process.Wait();
  answer.exitCode = result.timedOut ? 0xDEAD : result.exitCode;
  return answer;
}

}  // namespace kittest

#include "kitloader_run.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace kittest {

KitloaderStage::KitloaderStage(const std::string& program, const std::string& name) : m_name(name) {
  CopyFileOrFail(program.empty() ? WindowsPathOf(KITLOADER_EXE) : program, exe());
}

void KitloaderStage::WriteSetupInf(const std::string& text) const { WriteTextFile(m_program / "setup.inf", text); }

std::string KitloaderStage::Log() const { return ReadTextFile(m_temp / "logterminal.txt"); }

ChildProcess KitloaderStage::Start(const std::string& arguments, const std::string& currentFolder) const {
  std::string commandLine = "\"" + exe() + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  return StartProcess(commandLine, currentFolder.empty() ? folder() : currentFolder,
                      {{"TMP", tempFolder()}, {"TEMP", tempFolder()}});
}

ProcessResult KitloaderStage::Run(const std::string& arguments, const std::string& currentFolder) const {
  return Start(arguments, currentFolder).Wait();
}

kit::UniqueHandle ChildNamed(DWORD parentId, const char* name) {
  kit::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parentId && _stricmp(entry.szExeFile, name) == 0)
      return kit::UniqueHandle(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
  }
  return kit::UniqueHandle();
}

}  // namespace kittest

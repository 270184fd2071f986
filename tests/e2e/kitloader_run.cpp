#include "kitloader_run.h"

#include <tlhelp32.h>

#include <vector>

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

namespace {

// The children of `parentId`, those named `name` only when one is given.
std::vector<kit::UniqueHandle> Children(DWORD parentId, const char* name) {
  std::vector<kit::UniqueHandle> found;
  kit::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parentId && (!name || _stricmp(entry.szExeFile, name) == 0))
      found.emplace_back(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
  }
  return found;
}

}  // namespace

kit::UniqueHandle ChildNamed(DWORD parentId, const char* name) {
  std::vector<kit::UniqueHandle> found = Children(parentId, name);
  return found.empty() ? kit::UniqueHandle() : std::move(found.front());
}

void EndChildrenOf(DWORD parentId) {
  if (parentId == 0) return;  // the processes started from outside the prefix
  for (kit::UniqueHandle& child : Children(parentId, nullptr)) {
    if (!child) continue;
    TerminateProcess(child.get(), 1);
    WaitForSingleObject(child.get(), 10000);
  }
}

void EndProgramsFrom(const std::string& folder) {
  const std::string prefix = folder + "\\";
  // Again until a pass finds none: a program ended may have been starting
  // another, and a process just created may not show its image yet.
  for (int pass = 0; pass < 10; ++pass) {
    bool found = false;
    kit::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
      kit::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                            FALSE, entry.th32ProcessID));
      char image[MAX_PATH * 2] = {};
      DWORD length = sizeof image;
      if (!process || !QueryFullProcessImageNameA(process.get(), 0, image, &length) ||
          _strnicmp(image, prefix.c_str(), prefix.size()) != 0)
        continue;
      found = true;
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 10000);
    }
    if (!found) return;
    Sleep(300);
  }
}

}  // namespace kittest

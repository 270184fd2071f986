#include "kitloader_run.h"

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

}  // namespace kittest

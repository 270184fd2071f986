// Runs the real kitloader.exe from a staged folder of its own.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/handles.h"
#include "support/test_support.h"

namespace kittest {

// A folder holding a copy of kitloader.exe (and whatever the test adds, such
// as setup.inf). The program's temporary folder (TMP/TEMP) is a folder of the
// stage too, so its log and temporary files stay inside the test.
class KitloaderStage {
 public:
  // A copy of `program` (default: the shipped kitloader.exe) named `name`.
  explicit KitloaderStage(const std::string& program = "", const std::string& name = "kitloader.exe");
  const std::string& folder() const { return m_program.path(); }
  std::string exe() const { return m_program / m_name; }
  std::string tempFolder() const { return m_temp.path(); }
  void WriteSetupInf(const std::string& text) const;
  // The log the run wrote ("" when there is none).
  std::string Log() const;

  // Runs "<exe> <arguments>" from currentFolder (empty: the stage's folder)
  // and waits for it; Start returns at once.
  ProcessResult Run(const std::string& arguments, const std::string& currentFolder = "") const;
  ChildProcess Start(const std::string& arguments, const std::string& currentFolder = "") const;

 private:
  std::string m_name;
  TempFolder m_program;
  TempFolder m_temp;
};

// The started program `name` whose parent is `parentId`.
kit::UniqueHandle ChildNamed(DWORD parentId, const char* name);

// Ends every program `parentId` started. A run terminated while it started a
// hook program can leave that program created but never resumed: it would
// stay forever, holding what it inherited.
void EndChildrenOf(DWORD parentId);

// Ends every program still running from `folder` (a test's staged copies),
// whoever started it: a server that outlived its test would hold what it
// inherited, the test's output among it.
void EndProgramsFrom(const std::string& folder);

}  // namespace kittest

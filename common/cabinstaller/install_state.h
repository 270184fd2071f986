// What one installation accumulates from its start to its end: the target
// folder it places into, its own temporary folder, the package INF it holds,
// what it reads once for both passes over the [Add.Code] entries, the files
// the check pass found locked, the result its actions leave, and the journal
// that undoes it.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cabinstaller/install_rollback.h"
#include "foundation/handles.h"
#include "foundation/string_lists.h"
#include "foundation/temp_folders.h"

// What an installation reads once (reset when it starts): the names in the
// system and Windows folders, where each file name was found there (empty:
// nowhere), so both passes place a file alike, the version of each extracted
// file and each [Add.Code] entry's section as listed.
struct InstallReads {
  bool foldersListed = false;
  UString systemFolder, windowsFolder;
  std::set<std::string> systemNames, windowsNames;
  std::map<std::string, UString> commonPaths;
  std::map<std::string, std::pair<DWORD, DWORD>> versions;
  std::vector<UString> entrySections;
};

class InstallState {
 public:
  InstallState() = default;
  InstallState(const InstallState&) = delete;
  InstallState& operator=(const InstallState&) = delete;

  // A new installation: what the last one read, found locked and
  // accumulated goes. The target folder stays until it is chosen anew.
  void Begin();
  // Ends the installation's changes: undone when it failed or was
  // cancelled, made final when it succeeded. The INF is let go.
  void Finish(bool succeeded);

  const UString& TargetFolder() const { return m_targetFolder; }
  void SetTargetFolder(const UString& folder) { m_targetFolder = folder; }

  // The installation's unique "_tmp1" folder below `base` (the result of
  // CreateUniqueTempFolder), held until RemoveTempFolder.
  const UString& TempFolder() const { return m_tempFolder; }
  int CreateTempFolder(const UString& base);
  void RemoveTempFolder();

  // The package INF, held from its check until the installation ends.
  kit::UniqueFile* HeldInf() { return &m_heldInf; }

  // The result the actions of this installation accumulate: the first
  // failure stays, a restart gives way to any later nonzero result.
  int ActionResult() const { return m_actionResult; }
  void AddActionResult(int result);

  // Installed files the check pass could not free, by folded path.
  void MarkLocked(const std::string& foldedPath) { m_lockedPaths.insert(foldedPath); }
  bool IsLocked(const std::string& foldedPath) const { return m_lockedPaths.count(foldedPath) != 0; }

  InstallReads& Reads() { return m_reads; }
  InstallRollback& Rollback() { return m_rollback; }

 private:
  UString m_targetFolder;
  UString m_tempFolder;
  TempFolderHold m_tempFolderHold;
  kit::UniqueFile m_heldInf;
  int m_actionResult = 0;
  std::set<std::string> m_lockedPaths;
  InstallReads m_reads;
  InstallRollback m_rollback;
};

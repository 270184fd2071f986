// What one installation changed, each step with its undo: a failed or
// cancelled installation is undone in reverse order and leaves files, class
// registrations and records as they were; a finished one is made final.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/m_strings.h"

class InstallRollback {
 public:
  InstallRollback() = default;
  InstallRollback(const InstallRollback&) = delete;
  InstallRollback& operator=(const InstallRollback&) = delete;

  // A file about to be written at `path`: one that is there is moved aside
  // in its own folder (so on the same volume) and comes back on undo; a new
  // one goes on undo. 0, or the error of the move.
  DWORD PrepareFile(const UString& path);
  // A folder this installation made: removed on undo when it is empty.
  void MadeFolder(const UString& path);
  // A registry key (with everything below it) or one value about to change:
  // saved once, written back as it was on undo.
  void SaveKey(HKEY hive, const UString& path);
  void SaveValue(HKEY hive, const UString& key, const UString& name);

  // Undoes every step, last first. Nothing is left to undo afterwards.
  void Rollback();
  // Makes the installation final: the files moved aside go (a file still in
  // use in the machine's folders goes at the next restart).
  void Commit();
  bool empty() const { return m_steps.empty(); }

 private:
  struct Step {
    std::function<void()> undo;
    std::function<void()> commit;
  };
  std::vector<Step> m_steps;
  std::set<std::string> m_saved;
  unsigned m_asideCount = 0;
};

// Removes from `folder` the files that runs which have ended (a run killed
// in the middle of an installation) moved aside and left there: a running
// installation keeps its own. Each goes through a handle that follows no
// link; one still in use goes at the next restart when it lies in the
// machine's folders.
void RemoveFilesMovedAsideByEndedRuns(const UString& folder);

// Whether an installed file could be moved aside: no other handle keeps it
// from being renamed or deleted (a file opened without delete sharing).
// A read-only file can. 0, or the error of the open.
DWORD CheckFileReplaceable(const UString& path);

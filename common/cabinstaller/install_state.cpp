// The state of one installation (see install_state.h).
#include "cabinstaller/install_state.h"

#include "cabinstaller/hook_rules.h"

void InstallState::Begin() {
  m_actionResult = 0;
  m_lockedPaths.clear();
  m_reads = InstallReads();
}

void InstallState::Finish(bool succeeded) {
  if (succeeded)
    m_rollback.Commit();
  else
    m_rollback.Rollback();
  m_heldInf.reset();
}

int InstallState::CreateTempFolder(const UString& base) {
  return CreateUniqueTempFolder(base.c_str(), &m_tempFolder, "_tmp1", &m_tempFolderHold);
}

void InstallState::RemoveTempFolder() { ::RemoveTempFolder(&m_tempFolder, &m_tempFolderHold); }

void InstallState::AddActionResult(int result) { m_actionResult = NextActionResult(m_actionResult, result); }

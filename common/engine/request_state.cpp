#include "engine/request_state.h"

int RequestTempFolder::Create(const char* base) { return CreateUniqueTempFolder(base, &m_strPath, "", &m_hold); }

void RequestTempFolder::Remove() { RemoveTempFolder(&m_strPath, &m_hold); }

void InstallRequestState::Begin(const InstallRequest& request) {
  m_request = request;
  m_iRecordedResult = -1;
}

std::int32_t InstallRequestState::ReportedResult() const {
  return Decision() == UpdateDecision::kInstall ? RecordedResult() : 0;
}

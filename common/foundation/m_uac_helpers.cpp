#include "foundation/m_uac_helpers.h"

#include <vector>

DWORD uGetProcessIntegrityLevel(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process ? process : GetCurrentProcess(), TOKEN_QUERY, &token)) return kIntegrityLow;
  DWORD level = kIntegrityLow;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size) {
    std::vector<unsigned char> buf(size);
    if (GetTokenInformation(token, TokenIntegrityLevel, buf.data(), size, &size)) {
      PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data())->Label.Sid;
      UCHAR count = *GetSidSubAuthorityCount(sid);
      if (count) level = *GetSidSubAuthority(sid, count - 1);
    }
  }
  CloseHandle(token);
  return level;
}

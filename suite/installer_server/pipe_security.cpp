// The security descriptors of the installer servers' pipes.
#include "installer_server/pipe_security.h"

#include <windows.h>
// after windows.h
#include <sddl.h>

#include <memory>

#include "foundation/handles.h"

namespace ombrix {

namespace {

// The SID of the user the process runs for, as text.
UString CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return UString();
  kit::UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (!size) return UString();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return UString();
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) return UString();
  kit::UniqueLocal owner(text);
  return UString(text);
}

}  // namespace

UString PipeSecurity(int pipe) {
  const UString client = pipe == 0 ? UString("IU") : CurrentUserSid();
  if (client.empty()) return UString();
  return UString("D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;") + client + ")S:(ML;;NW;;;LW)";
}

UString ReceiveFolderSecurity(int pipe) {
  const UString own = CurrentUserSid();
  if (own.empty()) return UString();
  return UString("D:P(A;OICI;FA;;;") + own + ")" + (pipe == 1 ? "S:(ML;OICI;NWNRNX;;;HI)" : "");
}

}  // namespace ombrix

// The security descriptors of the installer servers' pipes.
#include "installer_server/pipe_security.h"

#include <windows.h>

#include <string>

#include "platform/platform_facts.h"

namespace ombrix {

namespace {

// The SID of the user the process runs for, as text.
UString CurrentUserSid() {
  std::string user;
  return uReadProcessUser(GetCurrentProcess(), &user) ? UString(user.c_str()) : UString();
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

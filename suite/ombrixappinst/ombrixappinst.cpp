// The suite's user-mode installer: a server of the installer pipe protocol.
//
//   ombrixappinst.exe /pipe <index> [/version <a.b.c.d>] [/result <code>]
//                     [/answersize <bytes>] [/hold <ms>] [/keep] [/discard]
//                     [/stop <event name>] [/idle <ms>] [/iotimeout <ms>]
//                     [/deadline <ms>]
//
// It serves pipe <index> (1 the high-integrity installer's, which installs
// per machine; 2 the medium-integrity installer's, which installs for the
// user; 0, the Installer Service's, per machine as well), several clients at
// a time, installations in turn: the version request is answered with
// <version>, the UI-window request names the owner of any window the
// client's next installation shows, and an install request's package is
// received into a new private folder "OmbrixInstaller<index>-<random>"
// under the temporary folder, verified and installed, and the folder is
// removed. /result answers <code> instead of installing, /keep leaves the
// received package's folder, /discard only counts its bytes, /hold delays
// each install answer, /answersize puts another size into every response's
// size field. /iotimeout is how long a connected client may stay silent
// (default 10000), /deadline how long one request may take to arrive in
// full (default 300000).
//
// A client that sends garbage, lies about a size, sends a name without its
// terminating zero, stalls or disconnects mid-stream gets a failure answer or
// a closed connection; the server goes on serving. It ends when the named
// event is set or after <idle> ms (default 120000) without a client.
#include <windows.h>

#include "foundation/dll_search.h"
#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "installer_server/package_install.h"
#include "installer_server/pipe_security.h"
#include "installer_server/pipe_server.h"
#include "installer_service/pipe_messages.h"

int main(int argc, char** argv) {
  kit::RestrictDllSearch();
  ombrix::ServerOptions options;
  if (!ombrix::ParseServerOptions(argc, argv, &options) || !*pipeproto::PipeName(options.pipe)) return 2;
  UClientFileErrorLog log;
  log.Open("OMBRIXAPPINST");
  kit::UniqueHandle stop;
  if (!options.stopEvent.empty()) stop.reset(CreateEventA(nullptr, TRUE, FALSE, options.stopEvent.c_str()));
  const int scope = options.pipe == 2 ? 2 : 1;
  ombrix::PipeServer server(options, SGetTempPath() + "\\OmbrixInstaller" + SIntToString(options.pipe),
                            [scope](const UString& package, HWND owner) {
                              return ombrix::InstallOutcome{ombrix::AnswerFor(
                                  ombrix::ResultOf::kInstall, ombrix::InstallReceivedPackage(package, scope, owner))};
                            });
  server.SetSecurity(ombrix::PipeSecurity(options.pipe));
  return server.Run(stop.get());
}

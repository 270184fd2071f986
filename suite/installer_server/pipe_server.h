// The serving loop of the suite's installer pipe servers (the Installer
// Service and the user-mode installers): one pipe instance, one client at a
// time, every read and write with a time limit, so a client that stalls,
// lies about a size or leaves mid-stream costs one connection, never the
// server.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "foundation/m_strings.h"
#include "installer_server/server_rules.h"

namespace ombrix {

// What the server does with a package it has received in full.
struct InstallOutcome {
  std::uint32_t answer = 0;
  bool lastClient = false;  // stop serving once this client has read the answer
};
using InstallHandler = std::function<InstallOutcome(const UString& packagePath, HWND owner)>;

class PipeServer {
 public:
  // Received packages go to `folder` (created when missing). Without a
  // handler, or with the forced result of the options, a package is only
  // received and answered with that result.
  PipeServer(const ServerOptions& options, const UString& folder, InstallHandler install);

  // Serves until `stop` is set (it may be null), the handler asked for a last
  // client, or no client came for the idle time. 0, or 3 when the pipe
  // cannot be created, 4 when the pipe fails.
  int Run(HANDLE stop);

  // Creates the one instance of the pipe with `sddl` as its security (empty:
  // the default), overlapped; invalid on failure.
  static HANDLE CreatePipe(const char* name, const char* sddl);

  // The pipe's security as SDDL; empty: the default.
  void SetSecurity(const UString& sddl) { m_sddl = sddl; }

 private:
  class Connection;
  bool Respond(Connection& client, std::uint32_t a, std::uint32_t b = 0);
  void Serve(Connection& client);
  std::uint32_t Receive(Connection& client, const unsigned char* header, std::uint32_t size);

  ServerOptions m_options;
  UString m_folder;
  InstallHandler m_install;
  UString m_sddl;
  HWND m_window = nullptr;
  bool m_lastClient = false;
};

}  // namespace ombrix

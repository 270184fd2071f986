// The serving loop of the suite's installer pipe servers (the Installer
// Service and the user-mode installers): several pipe instances, each served
// by a thread of its own, so a version or UI-window request is answered
// while an installation runs or another client stalls. Installations take
// turns. Every read and write has a silence limit and every request an
// overall deadline, so a client that stalls, trickles, lies about a size or
// leaves early costs its own connection, never the server.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "foundation/handles.h"
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
  // How many clients are served at once.
  static constexpr int kInstances = 4;

  // Each received package goes to a folder of its own, "<receivePrefix>-"
  // and a random name (see ReceiveFolder), removed when the request ends.
  // Without a handler, or with the forced result of the options, a package
  // is only received and answered with that result.
  PipeServer(const ServerOptions& options, const UString& receivePrefix, InstallHandler install);

  // Serves until `stop` is set (it may be null), the handler asked for a last
  // client, or no client came for the idle time. 0, or 3 when the pipe
  // cannot be created.
  int Run(HANDLE stop);

  // Creates one instance of the pipe with `sddl` as its security (empty:
  // the default), overlapped; the first one also claims the name. Invalid on
  // failure.
  static HANDLE CreatePipe(const char* name, const char* sddl, bool first);

  // The pipe's security as SDDL; empty: the default.
  void SetSecurity(const UString& sddl) { m_sddl = sddl; }

 private:
  class Connection;
  void ServeInstance(HANDLE pipe);
  bool Respond(Connection& client, std::uint32_t a, std::uint32_t b = 0);
  void Serve(Connection& client);
  std::uint32_t Receive(Connection& client, const unsigned char* header, std::uint32_t size);
  // The owner window the client process named for its installation; it is
  // used once, and only while it is still a window of that process.
  void SetWindow(DWORD client, HWND window);
  HWND TakeWindow(DWORD client);

  ServerOptions m_options;
  UString m_prefix;
  InstallHandler m_install;
  UString m_sddl;
  kit::UniqueHandle m_quit;  // set when every instance is to stop
  kit::UniqueHandle m_turn;  // a mutex: one installation at a time
  std::atomic<bool> m_lastClient{false};
  std::atomic<int> m_busy{0};
  std::atomic<unsigned> m_activity{0};
  std::mutex m_windowsLock;
  std::map<DWORD, HWND> m_windows;  // by client process
};

}  // namespace ombrix

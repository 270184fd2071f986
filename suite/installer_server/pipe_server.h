// The serving loop of the suite's installer pipe servers (the Installer
// Service and the user-mode installers): every pipe instance up to the bound
// listens from the start, each served by a thread of its own, so a version or
// UI-window request is answered while an installation runs or other clients
// stall. Installations take turns. Each
// client user (the token user of the client, read by an identification-level
// impersonation) has at most one installation and one query at a time;
// further requests of that user are answered busy at once. The header must
// arrive within a few seconds, the package after it at a minimum rate; every
// read and write has a silence limit and every request an overall deadline,
// so a client that stalls, trickles, lies about a size or leaves early costs
// its own connection, never the server or another user.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/handles.h"
#include "foundation/m_strings.h"
#include "installer_server/pipe_user_slots.h"
#include "installer_server/server_rules.h"
#include "installer_service/pipe_messages.h"

namespace ombrix {

class PipeConnection;

// What the server does with a package it has received in full.
struct InstallOutcome {
  std::uint32_t answer = 0;
  bool lastClient = false;  // stop serving once this client has read the answer
};
using InstallHandler = std::function<InstallOutcome(const UString& packagePath, HWND owner)>;

class PipeServer {
 public:
  // The instances, all listening from the start: the bound of what clients
  // holding their requests can take.
  static constexpr int kInstances = 16;
  static constexpr int kMaxInstances = kInstances;
  // The header of a request must arrive within this time; after it, the
  // package at this average rate at least (after one silence limit of grace).
  static constexpr DWORD kHeaderDeadlineMs = 5000;
  static constexpr DWORD kMinBytesPerSecond = 4096;

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
  // One more instance with its thread, unless the bound is reached or the
  // server stops. The first one also claims the name. False when it cannot
  // be created.
  bool AddInstance(bool first);
  void ServeInstance(HANDLE pipe);
  bool Respond(PipeConnection& client, std::uint32_t a, std::uint32_t b = 0);
  void Serve(PipeConnection& client);
  bool ReadRequest(PipeConnection& client, unsigned char* request, pipeproto::RequestKind* kind);
  void Answer(PipeConnection& client, pipeproto::RequestKind kind, const unsigned char* request, std::uint32_t* a,
              std::uint32_t* b);
  std::uint32_t Receive(PipeConnection& client, const unsigned char* header, std::uint32_t size);
  std::uint32_t ReceivePackage(PipeConnection& client, const UString& path, std::uint32_t size);
  std::uint32_t Install(PipeConnection& client, const UString& path);
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
  std::mutex m_instancesLock;
  std::list<kit::UniqueFile> m_pipes;  // stable addresses for the threads
  std::vector<std::thread> m_threads;
  UserSlots m_users;
  std::atomic<bool> m_lastClient{false};
  std::atomic<int> m_busy{0};
  std::atomic<unsigned> m_activity{0};
  std::mutex m_windowsLock;
  std::map<DWORD, HWND> m_windows;  // by client process
};

}  // namespace ombrix

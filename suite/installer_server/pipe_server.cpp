// The serving loop of the installer pipe servers.
#include "installer_server/pipe_server.h"

#include <sddl.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/m_textconv.h"
#include "installer_server/pipe_connection.h"
#include "installer_server/pipe_security.h"
#include "installer_server/receive_folder.h"
#include "installer_service/pipe_messages.h"
#include "platform/platform_facts.h"

namespace ombrix {

namespace {
const char kServe[] = "PipeServer::Serve()";
constexpr DWORD kBlock = 65536;
// After the answer: what a client may still send before it closes its end.
constexpr DWORD kDrainLimit = 4 * kBlock;
// Failed connections in a row before an instance pauses a moment.
constexpr int kFailuresBeforePause = 16;
constexpr DWORD kPauseMs = 100;
constexpr std::size_t kRememberedWindows = 64;
}  // namespace

PipeServer::PipeServer(const ServerOptions& options, const UString& receivePrefix, InstallHandler install)
    : m_options(options), m_prefix(receivePrefix), m_install(std::move(install)) {}

HANDLE PipeServer::CreatePipe(const char* name, const char* sddl, bool first) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (*sddl && !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    LogRecord(kLogErrors, kServe,
              UMessage::Format("%1, %2", "ConvertStringSecurityDescriptorToSecurityDescriptor() failed",
                               SGetErrorText(GetLastError())));
    return INVALID_HANDLE_VALUE;
  }
  kit::UniqueLocal owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // Every instance up to the bound exists while the server runs: nobody else
  // can add one under the same name (the clients also check the server's
  // account).
  return CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                          kMaxInstances, kBlock, kBlock, 0, descriptor ? &attributes : nullptr);
}

bool PipeServer::AddInstance(bool first) {
  std::lock_guard<std::mutex> lock(m_instancesLock);
  if (m_pipes.size() >= static_cast<std::size_t>(kMaxInstances) || WaitForSingleObject(m_quit.get(), 0) != WAIT_TIMEOUT)
    return false;
  const char* name = pipeproto::PipeName(m_options.pipe);
  kit::UniqueFile pipe(CreatePipe(name, m_sddl.c_str(), first));
  if (!pipe) {
    LogRecord(kLogErrors, kServe, UMessage::Format("CreateNamedPipe() failed, %1, %2", name, GetLastError()));
    return false;
  }
  m_pipes.push_back(std::move(pipe));
  const HANDLE instance = m_pipes.back().get();
  m_threads.emplace_back([this, instance] { ServeInstance(instance); });
  return true;
}

int PipeServer::Run(HANDLE stop) {
  const char* name = pipeproto::PipeName(m_options.pipe);
  m_quit.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  m_turn.reset(CreateMutexA(nullptr, FALSE, nullptr));
  if (!m_quit || !m_turn) return 3;
  bool created = true;
  for (int i = 0; i < kInstances && created; ++i) created = AddInstance(i == 0);
  if (!created) {
    SetEvent(m_quit.get());
    for (std::thread& thread : m_threads) thread.join();
    return 3;
  }
  LogRecord(kLogTrace, kServe, UMessage::Format("serving %1", name));
  const HANDLE waits[] = {m_quit.get(), stop};
  for (unsigned seen = m_activity.load();;) {
    const DWORD woke = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, m_options.idleMs);
    if (woke != WAIT_TIMEOUT) {
      LogRecord(kLogTrace, kServe, UString(woke == WAIT_OBJECT_0 ? "last client served: exit" : "stopped: exit"));
      break;
    }
    if (m_busy.load() == 0 && m_activity.load() == seen) {
      LogRecord(kLogTrace, kServe, UString("idle: exit"));
      break;
    }
    seen = m_activity.load();
  }
  SetEvent(m_quit.get());
  // No instance is added once the quit event is set.
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_instancesLock);
    threads.swap(m_threads);
  }
  for (std::thread& thread : threads) thread.join();
  return 0;
}

void PipeServer::ServeInstance(HANDLE pipe) {
  kit::UniqueHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent) return;
  for (int failures = 0; WaitForSingleObject(m_quit.get(), 0) == WAIT_TIMEOUT;) {
    OVERLAPPED ov{};
    ov.hEvent = ioEvent.get();
    ResetEvent(ioEvent.get());
    DWORD error = ConnectNamedPipe(pipe, &ov) ? 0 : GetLastError();
    if (error == ERROR_IO_PENDING) {
      const HANDLE waits[] = {ioEvent.get(), m_quit.get()};
      DWORD ignored = 0;
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &ov, &ignored, TRUE);
        return;
      }
      error = GetOverlappedResult(pipe, &ov, &ignored, FALSE) ? 0 : GetLastError();
    }
    if (error == ERROR_PIPE_CONNECTED) error = 0;
    if (error) {
      // A client that came and went before the instance listened
      // (ERROR_NO_DATA), or any other failure of one connection: it costs
      // that connection only.
      LogRecord(kLogWarnings, kServe, UMessage::Format("%1, %2", "connection lost before a request", error));
      DisconnectNamedPipe(pipe);
      if (++failures >= kFailuresBeforePause) WaitForSingleObject(m_quit.get(), kPauseMs), failures = 0;
      continue;
    }
    failures = 0;
    ++m_busy;
    ++m_activity;
    PipeConnection client(pipe, ioEvent.get(), m_quit.get(), m_options.ioTimeoutMs);
    client.SetDeadline(m_options.deadlineMs);
    Serve(client);
    // Let the client read the answer before the connection goes: wait a
    // bounded time for its end to close, discarding a bounded amount of
    // anything more it sends.
    client.SetDeadline(m_options.ioTimeoutMs);
    unsigned char scratch[4096];
    for (DWORD drained = 0, got = 0; drained < kDrainLimit && (got = client.ReadSome(scratch, sizeof scratch));)
      drained += got;
    DisconnectNamedPipe(pipe);
    --m_busy;
    ++m_activity;
    if (m_lastClient) SetEvent(m_quit.get());
  }
}

bool PipeServer::Respond(PipeConnection& client, std::uint32_t a, std::uint32_t b) {
  unsigned char response[pipeproto::kResponseSize];
  pipeproto::EncodeResponse(a, b, m_options.answerSize, response);
  return client.Write(response, sizeof response);
}

void PipeServer::SetWindow(DWORD client, HWND window) {
  std::lock_guard<std::mutex> lock(m_windowsLock);
  if (m_windows.size() >= kRememberedWindows && !m_windows.count(client)) m_windows.erase(m_windows.begin());
  m_windows[client] = window;
}

HWND PipeServer::TakeWindow(DWORD client) {
  HWND window = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_windowsLock);
    const auto found = m_windows.find(client);
    if (found == m_windows.end()) return nullptr;
    window = found->second;
    m_windows.erase(found);
  }
  DWORD owner = 0;
  return window && IsWindow(window) && GetWindowThreadProcessId(window, &owner) && owner == client ? window : nullptr;
}

// The header within a few seconds, whatever the overall deadline, and the
// rest of the request's fixed part. False when it did not come.
bool PipeServer::ReadRequest(PipeConnection& client, unsigned char* request, pipeproto::RequestKind* kind) {
  client.SetDeadline(m_options.deadlineMs < kHeaderDeadlineMs ? m_options.deadlineMs : kHeaderDeadlineMs);
  if (!client.Read(request, pipeproto::kHeaderSize)) return false;
  *kind = pipeproto::ClassifyRequest(pipeproto::DecodeHeader(request));
  LogRecord(kLogTrace, kServe, UString(pipeproto::RequestKindText(*kind)));
  const DWORD rest = *kind == pipeproto::RequestKind::kUiWindow ? 4
                     : *kind == pipeproto::RequestKind::kInstall
                         ? DWORD(pipeproto::kInstallHeaderSize - pipeproto::kHeaderSize)
                         : 0;
  return !rest || client.Read(request + pipeproto::kHeaderSize, rest);
}

void PipeServer::Serve(PipeConnection& client) {
  unsigned char request[pipeproto::kInstallHeaderSize];
  pipeproto::RequestKind kind = pipeproto::RequestKind::kVersion;
  if (!ReadRequest(client, request, &kind)) return;
  client.SetDeadline(m_options.deadlineMs);

  // Who the client is, from its token (read once data has come). The user's
  // slot is given back before the answer goes out, so the client's next
  // request never finds it still taken.
  const bool install = kind == pipeproto::RequestKind::kInstall;
  std::string user;
  if (!kit::facts::PipeClientUser(client.pipe(), &user)) user.clear();
  std::uint32_t a = 0, b = 0;
  {
    UserSlot slot(m_users, user, install);
    if (!slot.taken()) {
      LogRecord(kLogWarnings, kServe,
                UMessage::Format("%1, %2", install ? "busy: an installation of this user is running"
                                                   : "busy: a query of this user is running",
                                 UString(user.c_str())));
      // A version query answered with no version: no server for this query.
      if (kind != pipeproto::RequestKind::kVersion) a = install ? AnswerFor(ResultOf::kReceive, ERROR_BUSY) : ERROR_BUSY;
      Respond(client, a, b);
      return;
    }
    Answer(client, kind, request, &a, &b);
  }
  Respond(client, a, b);
}

void PipeServer::Answer(PipeConnection& client, pipeproto::RequestKind kind, const unsigned char* request,
                        std::uint32_t* a, std::uint32_t* b) {
  switch (kind) {
    case pipeproto::RequestKind::kVersion:
      *a = static_cast<std::uint32_t>(m_options.version >> 32);
      *b = static_cast<std::uint32_t>(m_options.version);
      break;
    case pipeproto::RequestKind::kUiWindow: {
      // A window handle is a 32-bit value in every process of the session.
      const HWND window =
          reinterpret_cast<HWND>(static_cast<ULONG_PTR>(pipeproto::ReadWord(request + pipeproto::kHeaderSize)));
      ULONG process = 0;
      if (GetNamedPipeClientProcessId(client.pipe(), &process)) SetWindow(process, window);
      LogRecord(kLogTrace, kServe,
                UMessage::Format("owner window %1 of process %2", static_cast<const void*>(window),
                                 static_cast<unsigned>(process)));
      break;
    }
    case pipeproto::RequestKind::kInstall:
      client.SetMinimumRate(kMinBytesPerSecond, m_options.ioTimeoutMs);
      *a = Receive(client, request, pipeproto::AnnouncedPackageSize(pipeproto::DecodeHeader(request)));
      // The installation's time is not the client's: the answer has a time
      // limit of its own.
      client.SetMinimumRate(0, 0);
      client.SetDeadline(m_options.ioTimeoutMs);
      break;
    case pipeproto::RequestKind::kTooLarge:
      *a = ERROR_FILE_TOO_LARGE;
      break;
    default:
      LogRecord(kLogErrors, kServe, UString("refused: ") + pipeproto::RequestKindText(kind));
      *a = ERROR_INVALID_DATA;
      break;
  }
}

// The package into a folder of its own, then installed in turn; the answer
// for the client.
std::uint32_t PipeServer::Receive(PipeConnection& client, const unsigned char* headerBytes, std::uint32_t size) {
  unsigned char header[pipeproto::kInstallHeaderSize];
  memcpy(header, headerBytes, sizeof header);
  std::u16string name;
  if (!pipeproto::DecodeInstallName(header, &name) || !pipeproto::IsPlainFileName(name)) {
    LogRecord(kLogErrors, kServe, UString("refused: the package name is not a plain file name"));
    return AnswerFor(ResultOf::kReceive, ERROR_INVALID_NAME);
  }
  ReceiveFolder folder;
  UString path;
  if (!m_options.discard) {
    if (const DWORD error = folder.Create(m_prefix, ReceiveFolderSecurity(m_options.pipe)))
      return AnswerFor(ResultOf::kReceive, static_cast<std::int32_t>(error));
    if (folder.Join(name, &path) != 0) {
      LogRecord(kLogErrors, kServe, UString("refused: the package name has no exact form in the code page"));
      return AnswerFor(ResultOf::kReceive, ERROR_INVALID_NAME);
    }
  }
  if (const std::uint32_t refused = ReceivePackage(client, path, size)) return refused;
  LogRecord(kLogTrace, kServe, UMessage::Format("received %1 bytes", size));
  if (m_options.keep) folder.Keep();
  return Install(client, path);
}

// The package's bytes into `path` (or nowhere when discarding): 0 when all
// came, else the answer for the client.
std::uint32_t PipeServer::ReceivePackage(PipeConnection& client, const UString& path, std::uint32_t size) {
  kit::UniqueFile file;
  if (!m_options.discard) {
    file.reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return AnswerFor(ResultOf::kReceive, static_cast<std::int32_t>(GetLastError()));
  }
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlock]);
  for (std::uint32_t left = size; left;) {
    const DWORD want = left < kBlock ? left : kBlock;
    DWORD written = 0;
    if (!client.Read(buffer.get(), want)) {
      // Gone, silent, or too slow with bytes still to come.
      LogRecord(kLogErrors, kServe, UMessage::Format("the client went away with %1 bytes to come", left));
      return AnswerFor(ResultOf::kReceive, ERROR_INVALID_DATA);
    }
    if (file && (!WriteFile(file.get(), buffer.get(), want, &written, nullptr) || written != want))
      return AnswerFor(ResultOf::kReceive, static_cast<std::int32_t>(GetLastError()));
    left -= want;
  }
  return 0;
}

// The received package installed in turn with the client's owner window; the
// answer for the client.
std::uint32_t PipeServer::Install(PipeConnection& client, const UString& path) {
  ULONG process = 0;
  const HWND window = GetNamedPipeClientProcessId(client.pipe(), &process) ? TakeWindow(process) : nullptr;
  if (m_options.holdMs) Sleep(m_options.holdMs);
  if (!m_install || m_options.forceResult || m_options.discard) return m_options.result;
  // From verification to the end of the installation nobody writes, renames
  // or deletes the package.
  kit::UniqueFile held(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) return AnswerFor(ResultOf::kReceive, static_cast<std::int32_t>(GetLastError()));
  // Installations take turns; a turn that does not come within the deadline
  // is answered as busy.
  const HANDLE waits[] = {m_turn.get(), m_quit.get()};
  const DWORD turn = WaitForMultipleObjects(2, waits, FALSE, m_options.deadlineMs);
  if (turn != WAIT_OBJECT_0 && turn != WAIT_ABANDONED_0) return AnswerFor(ResultOf::kReceive, ERROR_BUSY);
  auto endTurn = kit::MakeScopeGuard([&] { ReleaseMutex(m_turn.get()); });
  // Whatever the installation raises costs this request, never the server.
  int failed = 0;
  InstallOutcome outcome;
  if (CatchAndLog(KL_CATCH_SITE(kServe, "PipeServer::Receive()"), failed,
                  [&] { outcome = m_install(path, window); }) != 0)
    outcome.answer = AnswerFor(ResultOf::kInstall, failed);
  if (outcome.lastClient) m_lastClient = true;
  return outcome.answer;
}

}  // namespace ombrix

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
#include "installer_server/pipe_security.h"
#include "installer_server/receive_folder.h"
#include "installer_service/pipe_messages.h"

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

// One connected client on one pipe instance. Every read and write is
// overlapped and ends early when the server stops, when the client is silent
// for the I/O time limit, or when the connection's deadline has passed.
class PipeServer::Connection {
 public:
  Connection(HANDLE pipe, HANDLE ioEvent, HANDLE quit, DWORD timeoutMs)
      : m_pipe(pipe), m_ioEvent(ioEvent), m_quit(quit), m_timeoutMs(timeoutMs) {}

  HANDLE pipe() const { return m_pipe; }
  // From now on the connection has `ms` left in all.
  void SetDeadline(DWORD ms) {
    m_start = GetTickCount();
    m_budgetMs = ms;
  }

  // Exactly `size` bytes, across message boundaries.
  bool Read(void* data, DWORD size) {
    auto* at = static_cast<unsigned char*>(data);
    while (size) {
      DWORD got = 0;
      if (!Transfer(false, at, size, &got) || got == 0) return false;
      at += got;
      size -= got;
    }
    return true;
  }
  // Whatever comes next, up to `size` bytes; 0 when the client has gone.
  DWORD ReadSome(void* data, DWORD size) {
    DWORD got = 0;
    return Transfer(false, data, size, &got) ? got : 0;
  }
  bool Write(const void* data, DWORD size) {
    DWORD put = 0;
    return Transfer(true, const_cast<void*>(data), size, &put) && put == size;
  }

 private:
  DWORD Left() const {
    const DWORD spent = GetTickCount() - m_start;
    const DWORD left = spent < m_budgetMs ? m_budgetMs - spent : 0;
    return left < m_timeoutMs ? left : m_timeoutMs;
  }

  bool Transfer(bool write, void* data, DWORD size, DWORD* done) {
    const DWORD waitMs = Left();
    if (waitMs == 0) return false;
    OVERLAPPED ov{};
    ov.hEvent = m_ioEvent;  // reset by the call itself
    const BOOL ok = write ? WriteFile(m_pipe, data, size, nullptr, &ov) : ReadFile(m_pipe, data, size, nullptr, &ov);
    if (!ok && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
    const HANDLE waits[] = {m_ioEvent, m_quit};
    // Data that was already there completes at once, without a wait.
    if (!(ok || GetLastError() == ERROR_MORE_DATA) && WaitForMultipleObjects(2, waits, FALSE, waitMs) != WAIT_OBJECT_0) {
      CancelIo(m_pipe);
      GetOverlappedResult(m_pipe, &ov, done, TRUE);
      return false;
    }
    // A message longer than the buffer arrives in parts.
    return GetOverlappedResult(m_pipe, &ov, done, FALSE) || GetLastError() == ERROR_MORE_DATA;
  }

  HANDLE m_pipe, m_ioEvent, m_quit;
  DWORD m_timeoutMs;
  DWORD m_start = GetTickCount();
  DWORD m_budgetMs = 0;
};

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
  // All instances exist while the server runs: nobody else can add one under
  // the same name.
  return CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                          kInstances, kBlock, kBlock, 0, descriptor ? &attributes : nullptr);
}

int PipeServer::Run(HANDLE stop) {
  const char* name = pipeproto::PipeName(m_options.pipe);
  std::vector<kit::UniqueFile> pipes;
  for (int i = 0; i < kInstances; ++i) {
    pipes.emplace_back(CreatePipe(name, m_sddl.c_str(), i == 0));
    if (!pipes.back()) {
      LogRecord(kLogErrors, kServe, UMessage::Format("CreateNamedPipe() failed, %1, %2", name, GetLastError()));
      return 3;
    }
  }
  m_quit.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  m_turn.reset(CreateMutexA(nullptr, FALSE, nullptr));
  if (!m_quit || !m_turn) return 3;
  LogRecord(kLogTrace, kServe, UMessage::Format("serving %1", name));
  std::vector<std::thread> instances;
  for (kit::UniqueFile& pipe : pipes) instances.emplace_back([this, &pipe] { ServeInstance(pipe.get()); });
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
  for (std::thread& instance : instances) instance.join();
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
    Connection client(pipe, ioEvent.get(), m_quit.get(), m_options.ioTimeoutMs);
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

bool PipeServer::Respond(Connection& client, std::uint32_t a, std::uint32_t b) {
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

void PipeServer::Serve(Connection& client) {
  unsigned char request[pipeproto::kInstallHeaderSize];
  if (!client.Read(request, pipeproto::kHeaderSize)) return;
  const pipeproto::Header header = pipeproto::DecodeHeader(request);
  const pipeproto::RequestKind kind = pipeproto::ClassifyRequest(header);
  LogRecord(kLogTrace, kServe, UString(pipeproto::RequestKindText(kind)));
  switch (kind) {
    case pipeproto::RequestKind::kVersion:
      Respond(client, static_cast<std::uint32_t>(m_options.version >> 32),
              static_cast<std::uint32_t>(m_options.version));
      return;
    case pipeproto::RequestKind::kUiWindow: {
      if (!client.Read(request + pipeproto::kHeaderSize, 4)) return;
      // A window handle is a 32-bit value in every process of the session.
      const HWND window =
          reinterpret_cast<HWND>(static_cast<ULONG_PTR>(pipeproto::ReadWord(request + pipeproto::kHeaderSize)));
      ULONG process = 0;
      if (GetNamedPipeClientProcessId(client.pipe(), &process)) SetWindow(process, window);
      LogRecord(kLogTrace, kServe,
                UMessage::Format("owner window %1 of process %2", static_cast<const void*>(window),
                                 static_cast<unsigned>(process)));
      Respond(client, 0);
      return;
    }
    case pipeproto::RequestKind::kInstall:
      if (!client.Read(request + pipeproto::kHeaderSize, pipeproto::kInstallHeaderSize - pipeproto::kHeaderSize))
        return;
    {
      const std::uint32_t answer = Receive(client, request, pipeproto::AnnouncedPackageSize(header));
      // The installation's time is not the client's: the answer has a time
      // limit of its own.
      client.SetDeadline(m_options.ioTimeoutMs);
      Respond(client, answer);
      return;
    }
    case pipeproto::RequestKind::kTooLarge:
      Respond(client, ERROR_FILE_TOO_LARGE);
      return;
    default:
      LogRecord(kLogErrors, kServe, UString("refused: ") + pipeproto::RequestKindText(kind));
      Respond(client, ERROR_INVALID_DATA);
      return;
  }
}

// The package into a folder of its own, then installed in turn; the answer
// for the client.
std::uint32_t PipeServer::Receive(Connection& client, const unsigned char* headerBytes, std::uint32_t size) {
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
  file.reset();
  LogRecord(kLogTrace, kServe, UMessage::Format("received %1 bytes", size));
  if (m_options.keep) folder.Keep();
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

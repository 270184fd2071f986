// The serving loop of the installer pipe servers.
#include "installer_server/pipe_server.h"

#include <sddl.h>

#include <memory>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"
#include "installer_service/pipe_messages.h"

namespace ombrix {

namespace {
const char kServe[] = "PipeServer::Serve()";
constexpr DWORD kBlock = 65536;
}  // namespace

// One connected client on the server's only pipe instance. Every read and
// write is overlapped and ends early when the stop event is set or the
// client is silent for the I/O time limit.
class PipeServer::Connection {
 public:
  Connection(HANDLE pipe, HANDLE ioEvent, HANDLE stop, DWORD timeoutMs)
      : m_pipe(pipe), m_ioEvent(ioEvent), m_stop(stop), m_timeoutMs(timeoutMs) {}

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
  bool Transfer(bool write, void* data, DWORD size, DWORD* done) {
    OVERLAPPED ov{};
    ov.hEvent = m_ioEvent;  // reset by the call itself
    const BOOL ok = write ? WriteFile(m_pipe, data, size, nullptr, &ov) : ReadFile(m_pipe, data, size, nullptr, &ov);
    if (!ok && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
    const HANDLE waits[] = {m_ioEvent, m_stop};
    const DWORD count = m_stop ? 2 : 1;
    // Data that was already there completes at once, without a wait.
    if (!(ok || GetLastError() == ERROR_MORE_DATA) &&
        WaitForMultipleObjects(count, waits, FALSE, m_timeoutMs) != WAIT_OBJECT_0) {
      CancelIo(m_pipe);
      GetOverlappedResult(m_pipe, &ov, done, TRUE);
      return false;
    }
    // A message longer than the buffer arrives in parts.
    return GetOverlappedResult(m_pipe, &ov, done, FALSE) || GetLastError() == ERROR_MORE_DATA;
  }

  HANDLE m_pipe, m_ioEvent, m_stop;
  DWORD m_timeoutMs;
};

PipeServer::PipeServer(const ServerOptions& options, const UString& folder, InstallHandler install)
    : m_options(options), m_folder(folder), m_install(std::move(install)) {}

HANDLE PipeServer::CreatePipe(const char* name, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (*sddl && !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    LogRecord(kLogErrors, kServe,
              UMessage::Format("%1, %2", "ConvertStringSecurityDescriptorToSecurityDescriptor() failed",
                               SGetErrorText(GetLastError())));
    return INVALID_HANDLE_VALUE;
  }
  kit::UniqueLocal owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // One instance only: a second client finds the pipe busy, and nobody
  // else can serve under the same name while this one runs.
  return CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kBlock,
                          kBlock, 0, descriptor ? &attributes : nullptr);
}

int PipeServer::Run(HANDLE stop) {
  const char* name = pipeproto::PipeName(m_options.pipe);
  CreateDirectoryA(m_folder.c_str(), nullptr);
  kit::UniqueFile pipe(CreatePipe(name, m_sddl.c_str()));
  if (!pipe) {
    LogRecord(kLogErrors, kServe, UMessage::Format("CreateNamedPipe() failed, %1, %2", name, GetLastError()));
    return 3;
  }
  kit::UniqueHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  LogRecord(kLogTrace, kServe, UMessage::Format("serving %1", name));
  while (!m_lastClient) {
    OVERLAPPED ov{};
    ov.hEvent = ioEvent.get();
    ResetEvent(ioEvent.get());
    if (!ConnectNamedPipe(pipe.get(), &ov) && GetLastError() != ERROR_PIPE_CONNECTED) {
      if (GetLastError() != ERROR_IO_PENDING) return 4;
      const HANDLE waits[] = {ioEvent.get(), stop};
      if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, m_options.idleMs) != WAIT_OBJECT_0) {
        CancelIo(pipe.get());
        DWORD ignored = 0;
        GetOverlappedResult(pipe.get(), &ov, &ignored, TRUE);
        LogRecord(kLogTrace, kServe, UString("stopped or idle: exit"));
        return 0;
      }
    }
    Connection client(pipe.get(), ioEvent.get(), stop, m_options.ioTimeoutMs);
    Serve(client);
    // Let the client read the answer before the connection goes: wait
    // for its end to close, discarding anything more it sends.
    unsigned char scratch[4096];
    while (client.ReadSome(scratch, sizeof scratch)) {
    }
    DisconnectNamedPipe(pipe.get());
  }
  LogRecord(kLogTrace, kServe, UString("last client served: exit"));
  return 0;
}

bool PipeServer::Respond(Connection& client, std::uint32_t a, std::uint32_t b) {
  unsigned char response[pipeproto::kResponseSize];
  pipeproto::EncodeResponse(a, b, m_options.answerSize, response);
  return client.Write(response, sizeof response);
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
    case pipeproto::RequestKind::kUiWindow:
      if (!client.Read(request + pipeproto::kHeaderSize, 4)) return;
      // A window handle is a 32-bit value in every process of the session.
      m_window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(pipeproto::ReadWord(request + pipeproto::kHeaderSize)));
      LogRecord(kLogTrace, kServe, UMessage::Format("owner window %1", static_cast<const void*>(m_window)));
      Respond(client, 0);
      return;
    case pipeproto::RequestKind::kInstall:
      if (!client.Read(request + pipeproto::kHeaderSize, pipeproto::kInstallHeaderSize - pipeproto::kHeaderSize))
        return;
      Respond(client, Receive(client, request, pipeproto::AnnouncedPackageSize(header)));
      return;
    case pipeproto::RequestKind::kTooLarge:
      Respond(client, ERROR_FILE_TOO_LARGE);
      return;
    default:
      LogRecord(kLogErrors, kServe, UString("refused: ") + pipeproto::RequestKindText(kind));
      Respond(client, ERROR_INVALID_DATA);
      return;
  }
}

// The package into the private folder, then installed; the answer for the
// client.
std::uint32_t PipeServer::Receive(Connection& client, const unsigned char* headerBytes, std::uint32_t size) {
  unsigned char header[pipeproto::kInstallHeaderSize];
  memcpy(header, headerBytes, sizeof header);
  std::u16string name;
  if (!pipeproto::DecodeInstallName(header, &name) || !pipeproto::IsPlainFileName(name)) {
    LogRecord(kLogErrors, kServe, UString("refused: the package name is not a plain file name"));
    return ERROR_INVALID_NAME;
  }
  const UString path = m_folder + "\\" + createString(reinterpret_cast<const wchar_t*>(name.c_str()));
  kit::UniqueFile file;
  if (!m_options.discard) {
    file.reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
  }
  auto removeFile = kit::MakeScopeGuard([&] {
    file.reset();
    if (!m_options.discard) DeleteFileA(path.c_str());
  });
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlock]);
  for (std::uint32_t left = size; left;) {
    const DWORD want = left < kBlock ? left : kBlock;
    DWORD written = 0;
    if (!client.Read(buffer.get(), want)) {
      // Gone, or silent with bytes still to come: the size was a lie.
      LogRecord(kLogErrors, kServe, UMessage::Format("the client went away with %1 bytes to come", left));
      return ERROR_INVALID_DATA;
    }
    if (file && (!WriteFile(file.get(), buffer.get(), want, &written, nullptr) || written != want))
      return GetLastError();
    left -= want;
  }
  file.reset();
  LogRecord(kLogTrace, kServe, UMessage::Format("received %1 bytes", size));
  if (m_options.holdMs) Sleep(m_options.holdMs);
  std::uint32_t answer = m_options.result;
  if (m_install && !m_options.forceResult && !m_options.discard) {
    // Whatever the installation raises costs this request, never the server.
    int failed = 0;
    InstallOutcome outcome;
    if (CatchAndLog(KL_CATCH_SITE(kServe, "PipeServer::Receive()"), failed,
                    [&] { outcome = m_install(path, m_window); }) != 0)
      outcome.answer = AnswerForInstallResult(failed);
    answer = outcome.answer;
    m_lastClient = outcome.lastClient;
  }
  if (m_options.keep) removeFile.release();
  return answer;
}

}  // namespace ombrix

// The suite's user-mode installer: a server of the installer pipe protocol.
//
//   ombrixappinst.exe /pipe <index> [/version <a.b.c.d>] [/result <code>]
//                     [/answersize <bytes>] [/hold <ms>] [/keep] [/discard]
//                     [/stop <event name>] [/idle <ms>] [/iotimeout <ms>]
//
// It serves pipe <index> (0 the Installer Service's, 1 and 2 the user-mode
// installers'), one client at a time: the version request is answered with
// <version>, the UI-window request is recorded, and an install request's
// package is received into the private folder "OmbrixInstaller<index>" under
// the temporary folder and answered with <code> (the cabinet installation
// itself is not part of this program yet). /keep leaves the received package
// there, /discard only counts its bytes, /hold delays each install answer,
// /answersize puts another size into every response's size field.
// /iotimeout is how long a connected client may stay silent (default 10000).
//
// A client that sends garbage, lies about a size, sends a name without its
// terminating zero, stalls or disconnects mid-stream gets a failure answer or
// a closed connection; the server goes on serving. It ends when the named
// event is set or after <idle> ms (default 120000) without a client.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_textconv.h"
#include "installer_service/pipe_messages.h"

namespace {

const char kServe[] = "OmbrixAppInstaller::Serve()";

struct Options {
  int pipe = -1;
  std::uint64_t version = 0x0001000000000001ull;  // 1.0.0.1
  std::uint32_t result = 0;
  std::uint32_t answerSize = pipeproto::kResponseSize;
  DWORD holdMs = 0;
  bool keep = false;
  bool discard = false;
  std::string stopEvent;
  DWORD idleMs = 120000;
  DWORD ioTimeoutMs = 10000;
};

// "a.b.c.d" as the four 16-bit parts of a 64-bit version.
bool ParseVersion(const char* text, std::uint64_t* version) {
  std::uint64_t v = 0;
  int parts = 0;
  for (const char* p = text; parts < 4; ++parts) {
    char* end = nullptr;
    const unsigned long part = std::strtoul(p, &end, 10);
    if (end == p || part > 0xFFFF) return false;
    v = (v << 16) | part;
    if (*end == '\0') {
      ++parts;
      break;
    }
    if (*end != '.') return false;
    p = end + 1;
  }
  if (parts != 4) return false;
  *version = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](auto* target) {
      if (!value) return false;
      *target = static_cast<std::remove_pointer_t<decltype(target)>>(std::strtoul(value, nullptr, 0));
      ++i;
      return true;
    };
    bool ok = true;
    if (a == "/keep") o->keep = true;
    else if (a == "/discard") o->discard = true;
    else if (a == "/pipe") ok = number(&o->pipe);
    else if (a == "/result") ok = number(&o->result);
    else if (a == "/answersize") ok = number(&o->answerSize);
    else if (a == "/hold") ok = number(&o->holdMs);
    else if (a == "/idle") ok = number(&o->idleMs);
    else if (a == "/iotimeout") ok = number(&o->ioTimeoutMs);
    else if (a == "/version") ok = value && ParseVersion(argv[++i], &o->version);
    else if (a == "/stop") ok = value && (o->stopEvent = argv[++i], true);
    else ok = false;
    if (!ok) return false;
  }
  return *pipeproto::PipeName(o->pipe) != '\0';
}

// One connected client on the server's only pipe instance. Every read and
// write is overlapped and ends early when the stop event is set or the
// client is silent for the I/O time limit.
class Connection {
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

class Server {
 public:
  explicit Server(const Options& options) : m_options(options) {}

  int Run() {
    const char* name = pipeproto::PipeName(m_options.pipe);
    m_folder = SGetTempPath() + "\\OmbrixInstaller" + SIntToString(m_options.pipe);
    CreateDirectoryA(m_folder.c_str(), nullptr);
    // One instance only: a second client finds the pipe busy, and nobody
    // else can serve under the same name while this one runs.
    kit::UniqueFile pipe(CreateNamedPipeA(
        name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    if (!pipe) {
      LogRecord(kLogErrors, kServe, UMessage::Format("CreateNamedPipe() failed, %1, %2", name, GetLastError()));
      return 3;
    }
    kit::UniqueHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    kit::UniqueHandle stop;
    if (!m_options.stopEvent.empty()) stop.reset(CreateEventA(nullptr, TRUE, FALSE, m_options.stopEvent.c_str()));
    LogRecord(kLogTrace, kServe, UMessage::Format("serving %1", name));
    for (;;) {
      OVERLAPPED ov{};
      ov.hEvent = ioEvent.get();
      ResetEvent(ioEvent.get());
      if (!ConnectNamedPipe(pipe.get(), &ov) && GetLastError() != ERROR_PIPE_CONNECTED) {
        if (GetLastError() != ERROR_IO_PENDING) return 4;
        const HANDLE waits[] = {ioEvent.get(), stop.get()};
        if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, m_options.idleMs) != WAIT_OBJECT_0) {
          CancelIo(pipe.get());
          DWORD ignored = 0;
          GetOverlappedResult(pipe.get(), &ov, &ignored, TRUE);
          LogRecord(kLogTrace, kServe, UString("stopped or idle: exit"));
          return 0;
        }
      }
      Connection client(pipe.get(), ioEvent.get(), stop.get(), m_options.ioTimeoutMs);
      Serve(client);
      // Let the client read the answer before the connection goes: wait
      // for its end to close, discarding anything more it sends.
      unsigned char scratch[4096];
      while (client.ReadSome(scratch, sizeof scratch)) {
      }
      DisconnectNamedPipe(pipe.get());
    }
  }

 private:
  bool Respond(Connection& client, std::uint32_t a, std::uint32_t b = 0) {
    unsigned char response[pipeproto::kResponseSize];
    pipeproto::EncodeResponse(a, b, m_options.answerSize, response);
    return client.Write(response, sizeof response);
  }

  void Serve(Connection& client) {
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
        m_window = pipeproto::ReadWord(request + pipeproto::kHeaderSize);
        LogRecord(kLogTrace, kServe, UMessage::Format("owner window %1", m_window));
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

  // The package into the private folder; the answer for the client.
  std::uint32_t Receive(Connection& client, const unsigned char (&header)[pipeproto::kInstallHeaderSize],
                        std::uint32_t size) {
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
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[65536]);
    for (std::uint32_t left = size; left;) {
      const DWORD want = left < 65536 ? left : 65536;
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
    LogRecord(kLogTrace, kServe, UMessage::Format("received %1 bytes", size));
    if (m_options.holdMs) Sleep(m_options.holdMs);
    if (m_options.keep) removeFile.release();
    return m_options.result;
  }

  Options m_options;
  UString m_folder;
  std::uint32_t m_window = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  UClientFileErrorLog log;
  log.Open("OMBRIXAPPINST");
  return Server(options).Run();
}

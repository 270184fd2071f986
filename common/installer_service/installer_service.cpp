// The client of the installer pipe protocol: the version query, the UI-window
// request and the install request that streams the package through one
// fixed buffer.
#include "installer_service/installer_service.h"

#include <memory>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_io.h"
#include "foundation/m_textconv.h"
#include "installer_service/pipe_messages.h"
#include "platform/platform_facts.h"

namespace {

const char kGetServiceVersion[] = "srvGetServiceVersion()";
const char kSetUIWindow[] = "srvSetUIWindow()";
const char kInstallControl[] = "srvInstallControl()";

// The server may learn who the client is, never act as the client.
constexpr DWORD kIdentifyOnly = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Missing before Windows Vista: looked up, so the program still starts there.
typedef BOOL(WINAPI* GetNamedPipeServerProcessIdProc)(HANDLE, PULONG);

// Whether the process at the server's end of `pipe` runs as the account the
// pipe index demands. Where the system cannot name the server's process
// (before Windows Vista), nothing can be checked and the server is taken as
// it comes.
bool ServerIsExpected(HANDLE pipe, const char* pipeName, int pipeIndex) {
  static const auto serverProcessId = reinterpret_cast<GetNamedPipeServerProcessIdProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetNamedPipeServerProcessId")));
  if (!serverProcessId) return true;
  ULONG id = 0;
  std::string server, own;
  if (serverProcessId(pipe, &id)) {
    kit::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process || !kit::facts::ProcessUser(process.get(), &server)) server.clear();
  }
  if (!kit::facts::ProcessUser(GetCurrentProcess(), &own)) own.clear();
  if (pipeproto::IsExpectedServer(pipeIndex, server, own)) return true;
  LogRecord(kLogErrors, "ServerIsExpected()",
            UMessage::Format("%1, %2, %3", "the pipe's server is not the expected account", pipeName,
                             server.empty() ? UString("unknown") : UString(server.c_str())));
  return false;
}

// Opens the pipe; a server that is not the one the pipe index demands counts
// as no server (ERROR_FILE_NOT_FOUND), never as an answer.
HANDLE OpenPipe(const char* pipeName, int pipeIndex) {
  kit::UniqueFile pipe(
      CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kIdentifyOnly, nullptr));
  if (pipe && !ServerIsExpected(pipe.get(), pipeName, pipeIndex)) {
    pipe.reset();
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  return pipe.release();
}

// One transaction as CallNamedPipeA makes it (open, waiting once up to the
// time-out for a busy pipe; message mode; the request out, up to 20 bytes
// back), with the pipe opened for identification only. False with the last
// error set when the transaction fails.
bool CallPipe(int pipeIndex, const void* request, DWORD requestSize, DWORD timeoutMs,
              unsigned char (&response)[pipeproto::kResponseSize], DWORD* received) {
  const char* pipeName = pipeproto::PipeName(pipeIndex);
  *received = 0;
  if (!*pipeName) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  kit::UniqueFile pipe(OpenPipe(pipeName, pipeIndex));
  if (!pipe && GetLastError() == ERROR_PIPE_BUSY) {
    if (!WaitNamedPipeA(pipeName, timeoutMs)) return false;
    pipe.reset(OpenPipe(pipeName, pipeIndex));
  }
  if (!pipe) return false;
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) return false;
  return TransactNamedPipe(pipe.get(), const_cast<void*>(request), requestSize, response, sizeof response, received,
                           nullptr) != FALSE;
}

// The name field of an install request: the package's file name in UTF-16.
std::u16string WideName(const UString& path) {
  const std::string name = pipeproto::PackageNameOf(path.str());
  const std::uint32_t needed = StringToWideChar(name.c_str(), nullptr, 0);
  if (needed == 0 || needed == 0xFFFFFFFFu) return std::u16string();
  std::unique_ptr<wchar_t[]> wide(new wchar_t[needed]());
  if (StringToWideChar(name.c_str(), wide.get(), needed) != 0) return std::u16string();
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
  return std::u16string(reinterpret_cast<const char16_t*>(wide.get()));
}

// Opens the pipe for the install request, waiting in 30-second steps while
// another client holds it.
kit::UniqueFile OpenInstallPipe(const char* pipeName, int pipeIndex) {
  for (;;) {
    kit::UniqueFile pipe(OpenPipe(pipeName, pipeIndex));
    if (pipe) return pipe;
    const DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY) {
      LogRecord(kLogErrors, kInstallControl, UMessage::Format("Failed to open pipe (error: %1)", error));
      KL_THROW(-1, kInstallControl, "srvInstallControl - failed to open pipe GetLastError = %lu\n", error);
    }
    LogRecord(kLogWarnings, kInstallControl, UString("Pipe is busy. Wait for 30 seconds"));
    if (!WaitNamedPipeA(pipeName, 30000)) {
      const DWORD waitError = GetLastError();
      LogRecord(kLogErrors, kInstallControl, UMessage::Format("WaitNamedPipe() failed (error: %1)", waitError));
      KL_THROW(-1, kInstallControl, "srvInstallControl - WaitNamedPipe() failed GetLastError = %lu\n", waitError);
    }
  }
}

// One WriteFile of the whole buffer; a failure or a short write raises with
// the given text followed by the last error.
void WriteAll(HANDLE pipe, const void* data, DWORD size, const char* failureText, const char* shortText) {
  DWORD written = 0;
  if (!WriteFile(pipe, data, size, &written, nullptr)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kInstallControl, UMessage::Format("Failed to write to the pipe (error: %1)", error));
    KL_THROW(-1, kInstallControl, "%s%lu", failureText, error);
  }
  if (written != size) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kInstallControl,
              UMessage::Format("Failure: %1 bytes written instead of %2 (error: %3)", written, size, error));
    KL_THROW(-1, kInstallControl, "%s%lu", shortText, error);
  }
}

int InstallThroughPipe(const char* packagePath, int pipeIndex) {
  UString path = packagePath;
  path.Replace("/", "\\");
  const char* pipeName = pipeproto::PipeName(pipeIndex);
  kit::UniqueFile pipe = OpenInstallPipe(pipeName, pipeIndex);
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kInstallControl, UMessage::Format("SetNamedPipeHandleState failed (error: %1)", error));
    KL_THROW(-1, kInstallControl,
             "srvInstallControl() - SetNamedPipeHandleState() failed, GetLastError = %lu\n", error);
  }

  const std::uint64_t size = UGetFileSize(path.c_str());
  if (size > pipeproto::kMaxPackageSize) {
    const UString text = UMessage::Format("The size of the file \"%1\" is too big (size: %2 bytes, limit: %3 bytes)",
                                          path, static_cast<unsigned long long>(size),
                                          static_cast<unsigned long long>(pipeproto::kMaxPackageSize));
    KL_THROW(-1, kInstallControl, "%s", text.c_str());
  }
  if (size == 0) {
    LogRecord(kLogErrors, kInstallControl, UMessage::Format("File %1 is empty", path));
    KL_THROW(-1, kInstallControl, "srvInstallControl() - the size of the file \"%s\" is zero", path.c_str());
  }
  const DWORD total = static_cast<DWORD>(size);

  unsigned char header[pipeproto::kInstallHeaderSize];
  pipeproto::EncodeInstallHeader(WideName(path), total, header);
  WriteAll(pipe.get(), header, sizeof header, "srvInstallControl() - WriteFile() failed, GetLastError = ",
           "srvInstallControl() - WriteFile() wrote less we asked, GetLastError = ");

  kit::UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kInstallControl, UMessage::Format("Failed to open file %1 (error: %2)", path, error));
    KL_THROW(-1, kInstallControl, "srvInstallControl() - Cannot open file \"%s\"", path.c_str());
  }

  // One fixed buffer for the whole package. A block the pipe takes only in
  // part fails the request: the rest of that block has already left the file
  // and would be missing from the stream.
  std::unique_ptr<unsigned char[]> block(new unsigned char[pipeproto::kStreamBlock]);
  for (DWORD sent = 0; sent < total;) {
    const DWORD want = total - sent < pipeproto::kStreamBlock ? total - sent : DWORD(pipeproto::kStreamBlock);
    DWORD read = 0;
    if (!ReadFile(file.get(), block.get(), want, &read, nullptr) || read != want) {
      const DWORD error = GetLastError();
      LogRecord(kLogErrors, kInstallControl, UMessage::Format("Failed to read file %1 (error: %2)", path, error));
      KL_THROW(-1, kInstallControl, "srvInstallControl() - Failed to read the file, error = %lu", error);
    }
    WriteAll(pipe.get(), block.get(), read, "srvInstallControl() - Failed to send the file error=",
             "srvInstallControl() - Failed to send the file error=");
    sent += read;
  }

  unsigned char response[pipeproto::kResponseSize] = {};
  DWORD received = 0;
  if (!ReadFile(pipe.get(), response, sizeof response, &received, nullptr)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kInstallControl,
              UMessage::Format("Failed to read response from the pipe (error: %1)", error));
    KL_THROW(-1, kInstallControl, "srvInstallControl() - Failed to read response = %lu", error);
  }
  const pipeproto::DecodedResponse d = pipeproto::DecodeResponse(response, received);
  if (d.response.header.code != pipeproto::kCodeResponse)
    KL_THROW(-1, kInstallControl, "srvInstallControl() - invalid response code = %u", d.response.header.code);
  if (d.size != pipeproto::kResponseSize) {
    LogRecord(kLogErrors, kInstallControl, UMessage::Format("Invalid response size (%1)", d.size));
    KL_THROW(-1, kInstallControl, "srvInstallControl() - invalid response size (%u)", d.size);
  }
  return static_cast<int>(d.response.a);
}

}  // namespace

std::uint64_t srvGetServiceVersion(DWORD timeoutMs, int pipeIndex) {
  const char* pipeName = pipeproto::PipeName(pipeIndex);
  unsigned char request[pipeproto::kVersionRequestSize];
  pipeproto::EncodeVersionRequest(request);
  unsigned char response[pipeproto::kResponseSize] = {};
  DWORD received = 0;
  if (!CallPipe(pipeIndex, request, sizeof request, timeoutMs, response, &received)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kGetServiceVersion,
              UMessage::Format("%1, %2, %3", "CallNamedPipe() failed", pipeName, error));
    return 0;
  }
  const pipeproto::DecodedResponse d = pipeproto::DecodeResponse(response, received);
  if (d.response.header.code != pipeproto::kCodeResponse) {
    LogRecord(kLogWarnings, kGetServiceVersion,
              UMessage::Format("Invalid response code (%1)", d.response.header.code));
    return 0;
  }
  if (d.size != pipeproto::kResponseSize) {
    LogRecord(kLogWarnings, kGetServiceVersion, UMessage::Format("Invalid response size (%1)", d.size));
    return 0;
  }
  return (std::uint64_t(d.response.a) << 32) + d.response.b;
}

int srvSetUIWindow(HWND window, DWORD timeoutMs, int pipeIndex) {
  int result = 0;
  CatchAndLog(KL_CATCH_SITE(kSetUIWindow, kSetUIWindow), result, [&] {
    const char* pipeName = pipeproto::PipeName(pipeIndex);
    unsigned char request[pipeproto::kUiWindowRequestSize];
    // Window handles are 32-bit values across processes.
    pipeproto::EncodeUiWindowRequest(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)), request);
    unsigned char response[pipeproto::kResponseSize] = {};
    DWORD received = 0;
    if (!CallPipe(pipeIndex, request, sizeof request, timeoutMs, response, &received)) {
      const DWORD error = GetLastError();
      KL_THROW(-1, kSetUIWindow, "%s, %s, %lu", "CallNamedPipe() failed", pipeName, error);
    }
    const pipeproto::DecodedResponse d = pipeproto::DecodeResponse(response, received);
    if (d.response.header.code != pipeproto::kCodeResponse)
      KL_THROW(-1, kSetUIWindow, "%s (%u)", "Invalid response code", d.response.header.code);
    if (d.size != pipeproto::kResponseSize) KL_THROW(-1, kSetUIWindow, "%s (%u)", "Invalid response size", d.size);
  });
  return result;
}

int srvInstallControl(const char* packagePath, DWORD, int pipeIndex) {
  int result = -1;
  CatchAndLog(KL_CATCH_SITE(kInstallControl, kInstallControl), result,
              [&] { result = InstallThroughPipe(packagePath ? packagePath : "", pipeIndex); });
  LogRecord(kLogTrace, kInstallControl, UMessage::Format("EXIT (result: %1)", result));
  return result;
}

#include "http/URLConnect.h"

#include <process.h>

#include <cstring>

#include "http/codebase.h"
#include "http/read_pace.h"
#include "foundation/errorlog.h"
#include "foundation/m_registry.h"
#include "foundation/m_textconv.h"
#include "http/send_rules.h"

const char kURLConnectSettingsKey[] = "SOFTWARE\\Norvane Networks\\ZirivoDerazu";

namespace {

const char kDefaultUserAgent[] =
    "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0; Norvane Networks Client)";
// Shared by every program of the suite that shows the library's dialogs.
const char kUiMutexName[] = "URLConnectUIMutex7E3A9C41D25B4F8E9A06C1B7D3E5F284";
const DWORD kIgnoreCertProblems =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
// A dialog that keeps answering "send again" without settling anything must
// not keep the request in the loop forever.
const int kMaxSendPasses = 8;
// How long a stop waits for the worker once the library's calls were
// aborted.
const DWORD kWorkerEndWaitMs = 120000;
// The worker's read-ahead buffer: a round between caller and worker brings up
// to this much, what the connection has ready.
const DWORD kReadAheadSize = 256 * 1024;

const char* ProxySuffix(bool detected, bool capitalised) {
  if (!detected) return "";
  return capitalised ? " Proxy detected, Please check your proxy settings"
                     : " Proxy detected, please check your proxy settings";
}

void DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CriticalSectionLock() { LeaveCriticalSection(&m_cs); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

}  // namespace

URLConnect::URLConnect(int accessType) : m_iAccessType(accessType) {
  InitializeCriticalSection(&m_csUiLock);
  InitializeCriticalSection(&m_csHandles);
  m_hCommandEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  m_hDoneEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  m_strUserAgent = SGetRegistryAsString(HKEY_LOCAL_MACHINE, kURLConnectSettingsKey, "UserAgentString",
                                        kDefaultUserAgent, KEY_WOW64_64KEY, 0);
  if (GetRegistryAsDWORDA(HKEY_LOCAL_MACHINE, kURLConnectSettingsKey, "AskAboutUntrustedSSLCert", 0,
                          KEY_WOW64_32KEY) != 0)
    m_dwSecurityFlags = kIgnoreCertProblems;
}

URLConnect::~URLConnect() {
  Terminate(TERMINATE_STOP);
  URLConnect::Close();
  DeleteCriticalSection(&m_csHandles);
  DeleteCriticalSection(&m_csUiLock);
}

void URLConnect::CloseHttpHandles() {
  CriticalSectionLock lock(m_csHandles);
  m_hRequest.reset();
  m_hConnection.reset();
  m_hRoot.reset();
}

void URLConnect::Close() { CloseHttpHandles(); }

DWORD URLConnect::GetContentLength() {
  CriticalSectionLock lock(m_csHandles);
  if (!m_hRequest) return 0;
  DWORD length = 0;
  DWORD size = sizeof length;
  if (!HttpQueryInfoA(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
    return 0;
  return length;
}

bool URLConnect::IsConnected() {
  CriticalSectionLock lock(m_csHandles);
  return m_hRequest.valid();
}

void URLConnect::PostToOwner(UINT message, WPARAM wParam) const {
  if (m_hOwnerWindow) PostMessageA(m_hOwnerWindow, message, wParam, 0);
}

unsigned __stdcall URLConnect::WorkerStart(void* self) {
  static_cast<URLConnect*>(self)->ThreadObjectProc();
  return 0;
}

void URLConnect::StartWorker() {
  if (m_hWorker) return;
  ResetEvent(m_hDoneEvent.get());
  m_bStopRequested = false;
  {
    CriticalSectionLock lock(m_csHandles);
    if (!m_hRoot) {
      const char* agent = m_strUserAgent.empty() ? nullptr : m_strUserAgent.c_str();
      m_hRoot.reset(InternetOpenA(agent, static_cast<DWORD>(m_iAccessType), nullptr, nullptr, 0));
      if (m_hRoot) {
        DWORD flags = 0;
        DWORD size = sizeof flags;
        if (InternetQueryOptionA(m_hRoot.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
          flags |= m_dwSecurityFlags;
          InternetSetOptionA(m_hRoot.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
        }
      }
    }
  }
  unsigned id = 0;
  m_hWorker.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &URLConnect::WorkerStart, this, 0, &id)));
}

void URLConnect::StopWorker(int mode) {
  if (!m_hWorker) return;
  m_bStopRequested = true;
  m_iCommand = COMMAND_NONE;
  {
    // Closing the root aborts the library's pending calls; its children go
    // with it.
    CriticalSectionLock lock(m_csHandles);
    m_hRoot.reset();
    m_hRequest.release();
    m_hConnection.release();
  }
  SetEvent(m_hCommandEvent.get());
  HANDLE worker = m_hWorker.get();
  // Nothing the worker uses (the caller's read buffer, the events, this
  // object) may go before it has ended: every stop waits for it, a forced
  // one without dispatching messages. A worker the aborted calls do not
  // release within the bound is ended, and still waited for.
  DWORD waited = WAIT_FAILED;
  if (mode == TERMINATE_STOP) {
    const ULONGLONG until = GetTickCount64() + kWorkerEndWaitMs;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      waited = MsgWaitForMultipleObjects(1, &worker, FALSE, now < until ? static_cast<DWORD>(until - now) : 0,
                                         QS_ALLINPUT);
      if (waited != WAIT_OBJECT_0 + 1) break;
      DispatchPendingMessages();
    }
  } else {
    waited = WaitForSingleObject(worker, kWorkerEndWaitMs);
  }
  if (waited != WAIT_OBJECT_0) {
    LogRecord(kLogWarnings, "URLConnect::Terminate", UString("Performing thread hard stop"));
    TerminateThread(worker, ERROR_CANCELLED);
    WaitForSingleObject(worker, kWorkerEndWaitMs);
    LogRecord(kLogTrace, "URLConnect::Terminate", UString("Thread hard stop done"));
  }
  m_hWorker.reset();
}

void URLConnect::Terminate(int mode) {
  if (mode == TERMINATE_START)
    StartWorker();
  else
    StopWorker(mode);
}

void URLConnect::ServeCommands(const std::function<void(int)>& run) {
  while (!m_bStopRequested) {
    WaitForSingleObject(m_hCommandEvent.get(), INFINITE);
    run(m_iCommand.exchange(COMMAND_NONE));
    SetEvent(m_hDoneEvent.get());
  }
}

void URLConnect::ThreadObjectProc() {
  ServeCommands([this](int command) {
    if (command == COMMAND_CONNECT) {
      BeginConnection();
      if (!m_bStopRequested && !IsConnected()) BeginConnection();
    } else if (command == COMMAND_READ) {
      ReadAvailable("URLConnect::ThreadObjectProc", "COMMAND_READ: InternetQueryDataAvailable failed (error: %1)",
                    "COMMAND_READ: InternetReadFile failed (error: %1)");
    }
  });
}

// Reads until the read-ahead buffer is full or no data is ready. A piece is
// either what the library says is ready (the first query waits for data as
// before), or, once the connection has kept up a rate, a block sized to
// arrive within about a quarter second at that rate: one call brings what
// would take many small ones. A further piece is read only within the
// command's first half second, so the caller's wait, its Cancel and the
// connection's receive time-out (the caller's less a second) bound every
// command as before. At the end of the data it returns what it has; the next
// command finds the end.
void URLConnect::ReadAvailable(const char* function, const char* queryFailedText, const char* readFailedText) {
  HINTERNET request;
  {
    CriticalSectionLock lock(m_csHandles);
    request = m_hRequest.get();
  }
  const DWORD started = GetTickCount();
  const DWORD size = static_cast<DWORD>(m_iReadSize);
  DWORD total = 0;
  while (total < size) {
    DWORD wanted = m_bRateStarted ? kit_http::BlockingReadSize(m_ullRateBytes, GetTickCount() - m_dwRateStart,
                                                               size - total)
                                  : 0;
    if (wanted == 0) {
      DWORD available = 0;
      if (!request || !InternetQueryDataAvailable(request, &available, 0, 0)) {
        if (total > 0) break;  // what was read comes first; the next read meets the failure
        m_dwLastError = request ? GetLastError() : ERROR_INVALID_HANDLE;
        LogRecord(kLogWarnings, function, UMessage::Format(queryFailedText, SGetErrorText(m_dwLastError)));
        m_iReadResult = -2;
        return;
      }
      if (available == 0) break;
      wanted = available < size - total ? available : size - total;
    }
    DWORD read = 0;
    if (!InternetReadFile(request, static_cast<char*>(m_pReadBuffer) + total, wanted, &read)) {
      if (total > 0) break;
      m_dwLastError = GetLastError();
      LogRecord(kLogWarnings, function, UMessage::Format(readFailedText, SGetErrorText(m_dwLastError)));
      m_iReadResult = -2;
      return;
    }
    total += read;
    // The rate is timed from the end of the first piece: the wait for the
    // server's first byte says nothing about how fast the rest comes.
    if (!m_bRateStarted) {
      m_bRateStarted = read > 0;
      m_dwRateStart = GetTickCount();
    } else {
      m_ullRateBytes += read;
    }
    if (read == 0 || m_bStopRequested || m_dwReceiveTimeout <= 1000 || GetTickCount() - started >= 500) break;
  }
  m_iReadResult = static_cast<int>(total);
}

void CALLBACK URLConnect::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status == INTERNET_STATUS_DETECTING_PROXY && context)
    reinterpret_cast<URLConnect*>(context)->m_bProxyDetected = true;
}

void URLConnect::BeginConnection() {
  static const char kFunction[] = "URLConnect::BeginConnection";
  m_dwLastError = 0;
  int protocol = 0;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(m_strUrl.c_str(), &protocol, &host, &path, &port, false) ||
      (protocol != kProtocolHttp && protocol != kProtocolHttps))
    m_dwLastError = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  else if (port < 0 || port > 65535)  // would connect to the port's low 16 bits instead
    m_dwLastError = ERROR_INTERNET_INVALID_URL;
  if (m_dwLastError) {
    LogRecord(kLogWarnings, kFunction, UMessage::Format("InternetConnect failed (error: %1)", SGetErrorText(m_dwLastError)));
    Close();
    return;
  }
  const bool secure = protocol == kProtocolHttps;

  HINTERNET request = nullptr;
  {
    CriticalSectionLock lock(m_csHandles);
    if (m_hRoot)
      m_hConnection.reset(InternetConnectA(m_hRoot.get(), host.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_hConnection) {
      m_dwLastError = m_hRoot ? GetLastError() : ERROR_INVALID_HANDLE;
    } else {
      m_hRequest.reset(HttpOpenRequestA(m_hConnection.get(), m_strVerb.c_str(), path.c_str(), nullptr, nullptr,
                                        nullptr, m_dwRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0) |
                                            (m_bNoCacheWrite ? INTERNET_FLAG_NO_CACHE_WRITE : 0),
                                        reinterpret_cast<DWORD_PTR>(this)));
      if (!m_hRequest) m_dwLastError = GetLastError();
      request = m_hRequest.get();
    }
  }
  if (m_dwLastError) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format(request || !m_hConnection ? "InternetConnect failed (error: %1)"
                                                         : "HttpOpenRequest failed (error: %1)",
                               SGetErrorText(m_dwLastError)));
    Close();
    return;
  }

  if (!m_strHeaders.empty() &&
      !HttpAddRequestHeadersA(request, m_strHeaders.c_str(), static_cast<DWORD>(-1),
                              HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
    m_dwLastError = GetLastError();
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("HttpAddRequestHeaders failed (error: %1)", SGetErrorText(m_dwLastError)));
    Close();
    return;
  }

  if (m_dwConnectTimeout > 1000) {
    DWORD value = m_dwConnectTimeout - 1000;
    InternetSetOptionA(request, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value);
  }
  if (m_dwReceiveTimeout > 1000) {
    DWORD value = m_dwReceiveTimeout - 1000;
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
  }
  DWORD mask = INTERNET_ERROR_MASK_COMBINED_SEC_CERT;
  InternetSetOptionA(request, INTERNET_OPTION_ERROR_MASK, &mask, sizeof mask);
  if (InternetSetStatusCallback(request, &URLConnect::StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
    m_dwLastError = GetLastError();
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("InternetSetStatusCallback failed (error: %1)", SGetErrorText(m_dwLastError)));
  }

  SendLoop(request, secure);
  if (m_dwLastError != 0) Close();
}

void URLConnect::SendLoop(HINTERNET request, bool) {
  static const char kFunction[] = "URLConnect::BeginConnection";
  using namespace kit_http;
  int clientCertificateRequests = 0;
  for (int pass = 1;; ++pass) {
    m_dwLastError = 0;
    m_bProxyDetected = false;
    if (pass > kMaxSendPasses || m_bStopRequested) {
      m_dwLastError = ERROR_CANCELLED;
      return;
    }

    const bool withBody = m_strVerb == "POST" || m_strVerb == "PUT";
    if (!HttpSendRequestA(request, nullptr, 0, withBody && !m_body.empty() ? m_body.data() : nullptr,
                          withBody ? static_cast<DWORD>(m_body.size()) : 0)) {
      m_dwLastError = GetLastError();
      const bool proxy = m_bProxyDetected;
      if (IsCertificateError(m_dwLastError)) {
        LogRecord(kLogWarnings, kFunction,
                  UMessage::Format("Invalid certificate (error: %1).%2", SGetErrorText(m_dwLastError),
                                   ProxySuffix(proxy, true)));
      } else if ((m_dwLastError == ERROR_FILE_NOT_FOUND || m_dwLastError == ERROR_INTERNET_TIMEOUT) && proxy) {
        if (IUErrorLog* log = g_pErrorLog)
          log->WriteLine(UString::Format("0,,,, %s\n",
                                         "The proxy server isn't responding. Please check your proxy settings.")
                             .c_str());
      } else {
        LogRecord(kLogWarnings, kFunction,
                  UMessage::Format("HttpSendRequest failed (error: %1).%2", SGetErrorText(m_dwLastError),
                                   ProxySuffix(proxy, false)));
      }
    }
    if (EndsSendAtOnce(m_dwLastError)) return;
    // Asked again after its answer: the request fails with what it meets.
    if (m_dwLastError == kErrorClientAuthCertNeeded && ++clientCertificateRequests > 1) return;

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) status = 0;
    m_dwStatusCode = status;
    if ((m_dwLastError == kErrorInvalidCa && ++m_iInvalidCaAttempts > 1) ||
        ((status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ) && ++m_iAuthAttempts > 1)) {
      m_dwLastError = FinalSendError(m_dwLastError, status, false);
      return;
    }

    DWORD answer = AnswerWithoutDialog(m_dwLastError);
    const bool dialog = !m_bNoDialogs && NeedsDialog(m_dwLastError);
    if (!m_bNoDialogs) {
      if (dialog) TakeDialogLock();
      HWND owner = m_hOwnerWindow ? m_hOwnerWindow : GetForegroundWindow();
      answer = InternetErrorDlg(owner, request, m_dwLastError,
                                FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                nullptr);
      if (dialog) ReleaseDialogLock();
    }

    switch (DecideAfterDialog(m_dwLastError, answer)) {
      case AfterDialog::kResendIgnoringRevocation: {
        // Added to what the request already ignores (the settings' switch).
        DWORD flags = 0;
        DWORD size = sizeof flags;
        if (!InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
        flags |= SECURITY_FLAG_IGNORE_REVOCATION;
        InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
        continue;
      }
      case AfterDialog::kResend:
        continue;
      case AfterDialog::kFinish:
        break;
    }
    if (m_dwStatusCode != HTTP_STATUS_OK) {
      m_dwLastError = FinalSendError(m_dwLastError, m_dwStatusCode, dialog && answer == ERROR_CANCELLED);
      LogRecord(kLogErrors, kFunction,
                UMessage::Format("HttpSendRequest failed with HTTP %1.%2", static_cast<unsigned>(m_dwStatusCode),
                                 ProxySuffix(m_bProxyDetected, false)));
    }
    return;
  }
}

void URLConnect::TakeDialogLock() {
  {
    CriticalSectionLock lock(m_csUiLock);
    if (!m_hUiMutex) m_hUiMutex.reset(CreateMutexA(nullptr, FALSE, kUiMutexName));
  }
  PostToOwner(kDialogNotifyMessage, 0);
}

void URLConnect::ReleaseDialogLock() {
  {
    CriticalSectionLock lock(m_csUiLock);
    m_hUiMutex.reset();
  }
  PostToOwner(kDialogNotifyMessage, 1);
}

bool URLConnect::DialogOnScreen() {
  CriticalSectionLock lock(m_csUiLock);
  return m_hUiMutex.valid();
}

int URLConnect::Connect(const char* url) {
  m_strUrl = url;
  m_dwAheadPos = m_dwAheadEnd = 0;  // nothing of an earlier connection is read
  m_bRateStarted = false;            // nor is its rate taken for this one's
  m_ullRateBytes = 0;
  Terminate(TERMINATE_START);
  if (!m_hWorker) {
    m_dwLastError = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  m_iCommand = COMMAND_CONNECT;
  SetEvent(m_hCommandEvent.get());

  // The user's time in one of the library's dialogs does not count.
  long long budget = m_dwConnectTimeout;
  for (;;) {
    if (WaitForSingleObject(m_hDoneEvent.get(), 100) == WAIT_OBJECT_0) {
      if (IsConnected()) return 1;
      Terminate(TERMINATE_STOP);
      return 0;
    }
    DispatchPendingMessages();
    if (!DialogOnScreen()) budget -= 100;
    if (budget <= 0) break;
  }
  LogRecord(kLogWarnings, "URLConnect::Connect", UString("Worker thread did not exit. Force thread termination"));
  Terminate(TERMINATE_STOP);
  Close();
  return -2;
}

int URLConnect::RunReadCommand(void* buffer, int size, const char* function) {
  if (m_dwAheadPos == m_dwAheadEnd) {
    if (m_readAhead.empty()) m_readAhead.resize(kReadAheadSize);
    m_dwAheadPos = m_dwAheadEnd = 0;
    m_pReadBuffer = m_readAhead.data();
    m_iReadSize = static_cast<int>(m_readAhead.size());
    m_iReadResult = -1;
    if (!m_hWorker) Terminate(TERMINATE_START);
    m_iCommand = COMMAND_READ;
    SetEvent(m_hCommandEvent.get());
    if (WaitForSingleObject(m_hDoneEvent.get(), m_dwReceiveTimeout) != WAIT_OBJECT_0) {
      LogRecord(kLogWarnings, function, UString("Worker thread did not exit. Forcing thread termination"));
      Terminate(TERMINATE_HARD_STOP);
      SetLastError(m_dwLastError);
      return -2;
    }
    const int result = m_iReadResult;
    if (result == 0) return -1;
    if (result < 0) {
      SetLastError(m_dwLastError);
      return -2;
    }
    m_dwAheadEnd = static_cast<DWORD>(result);
  }
  const DWORD rest = m_dwAheadEnd - m_dwAheadPos;
  const DWORD taken = rest < static_cast<DWORD>(size) ? rest : static_cast<DWORD>(size);
  std::memcpy(buffer, m_readAhead.data() + m_dwAheadPos, taken);
  m_dwAheadPos += taken;
  return static_cast<int>(taken);
}

int URLConnect::Read(void* buffer, int size) {
  if (!IsConnected() || !buffer || size <= 0) return -2;
  return RunReadCommand(buffer, size, "URLConnect::Read");
}

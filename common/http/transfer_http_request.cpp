#include "http/transfer_http_request.h"

#include "foundation/errorlog.h"
#include "foundation/m_registry.h"
#include "foundation/m_textconv.h"
#include "http/codebase.h"
#include "http/read_pace.h"
#include "http/send_rules.h"

const char kURLConnectSettingsKey[] = "SOFTWARE\\Norvane Networks\\ZirivoDerazu";

namespace {

const char kFunction[] = "URLConnect::BeginConnection";
const char kDefaultUserAgent[] =
    "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0; Norvane Networks Client)";
const DWORD kIgnoreCertProblems =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
const DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_CACHE_IF_NET_FAIL | INTERNET_FLAG_PRAGMA_NOCACHE;
// A dialog that keeps answering "send again" without settling anything must
// not keep the request in the loop forever.
const int kMaxSendPasses = 8;

const char* ProxySuffix(bool detected, bool capitalised) {
  if (!detected) return "";
  return capitalised ? " Proxy detected, Please check your proxy settings"
                     : " Proxy detected, please check your proxy settings";
}

void LogError(const char* text, DWORD error) {
  LogRecord(kLogWarnings, kFunction, UMessage::Format(text, SGetErrorText(error)));
}

void SetTimeout(HINTERNET request, DWORD option, DWORD callersMs) {
  if (callersMs <= 1000) return;
  DWORD value = callersMs - 1000;
  InternetSetOptionA(request, option, &value, sizeof value);
}

// Added to what the request already ignores (the settings' switch).
void IgnoreRevocation(HINTERNET request) {
  DWORD flags = 0;
  DWORD size = sizeof flags;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
  flags |= SECURITY_FLAG_IGNORE_REVOCATION;
  InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
}

}  // namespace

HttpRequest::HttpRequest(int accessType, DialogPresence& dialogs, const HttpReadLog& readLog)
    : m_dialogs(dialogs), m_readLog(readLog), m_iAccessType(accessType) {
  m_settings.userAgent = SGetRegistryAsString(HKEY_LOCAL_MACHINE, kURLConnectSettingsKey, "UserAgentString",
                                              kDefaultUserAgent, KEY_WOW64_64KEY, 0);
  if (GetRegistryAsDWORDA(HKEY_LOCAL_MACHINE, kURLConnectSettingsKey, "AskAboutUntrustedSSLCert", 0,
                          KEY_WOW64_32KEY) != 0)
    m_dwSecurityFlags = kIgnoreCertProblems;
}

void HttpRequest::OpenSession() {
  m_bAborted = false;
  std::lock_guard<std::mutex> lock(m_handlesLock);
  if (m_hRoot) return;
  const char* agent = m_settings.userAgent.empty() ? nullptr : m_settings.userAgent.c_str();
  m_hRoot.reset(InternetOpenA(agent, static_cast<DWORD>(m_iAccessType), nullptr, nullptr, 0));
  if (!m_hRoot) return;
  DWORD flags = 0;
  DWORD size = sizeof flags;
  if (InternetQueryOptionA(m_hRoot.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
    flags |= m_dwSecurityFlags;
    InternetSetOptionA(m_hRoot.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
}

void HttpRequest::Abort() {
  m_bAborted = true;
  // Closing the root aborts the library's pending calls; its children go
  // with it.
  std::lock_guard<std::mutex> lock(m_handlesLock);
  m_hRoot.reset();
  m_hRequest.release();
  m_hConnection.release();
}

void HttpRequest::Close() {
  std::lock_guard<std::mutex> lock(m_handlesLock);
  m_hRequest.reset();
  m_hConnection.reset();
  m_hRoot.reset();
}

bool HttpRequest::IsOpen() {
  std::lock_guard<std::mutex> lock(m_handlesLock);
  return m_hRequest.valid();
}

DWORD HttpRequest::ContentLength() {
  std::lock_guard<std::mutex> lock(m_handlesLock);
  if (!m_hRequest) return 0;
  DWORD length = 0;
  DWORD size = sizeof length;
  if (!HttpQueryInfoA(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
    return 0;
  return length;
}

void CALLBACK HttpRequest::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status == INTERNET_STATUS_DETECTING_PROXY && context)
    reinterpret_cast<HttpRequest*>(context)->m_bProxyDetected = true;
}

void HttpRequest::Open(const UString& url) {
  m_dwLastError = 0;
  m_bRateStarted = false;  // an earlier connection's rate is not taken for this one's
  m_ullRateBytes = 0;
  int protocol = 0;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(url.c_str(), &protocol, &host, &path, &port, false) ||
      (protocol != kProtocolHttp && protocol != kProtocolHttps))
    m_dwLastError = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  else if (port < 0 || port > 65535)  // would connect to the port's low 16 bits instead
    m_dwLastError = ERROR_INTERNET_INVALID_URL;
  if (m_dwLastError) LogError("InternetConnect failed (error: %1)", m_dwLastError);
  HINTERNET request = m_dwLastError ? nullptr : OpenRequest(host, port, path, protocol == kProtocolHttps);
  if (request && PrepareRequest(request)) SendLoop(request);
  if (m_dwLastError != 0) Close();
}

HINTERNET HttpRequest::OpenRequest(const UString& host, int port, const UString& path, bool secure) {
  HINTERNET request = nullptr;
  bool connected = false;
  {
    std::lock_guard<std::mutex> lock(m_handlesLock);
    if (m_hRoot)
      m_hConnection.reset(InternetConnectA(m_hRoot.get(), host.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    connected = m_hConnection.valid();
    if (!connected) {
      m_dwLastError = m_hRoot ? GetLastError() : ERROR_INVALID_HANDLE;
    } else {
      const DWORD flags =
          kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0) | (m_settings.noCacheWrite ? INTERNET_FLAG_NO_CACHE_WRITE : 0);
      m_hRequest.reset(HttpOpenRequestA(m_hConnection.get(), m_settings.verb.c_str(), path.c_str(), nullptr, nullptr,
                                        nullptr, flags, reinterpret_cast<DWORD_PTR>(this)));
      if (!m_hRequest) m_dwLastError = GetLastError();
      request = m_hRequest.get();
    }
  }
  if (m_dwLastError)
    LogError(connected ? "HttpOpenRequest failed (error: %1)" : "InternetConnect failed (error: %1)", m_dwLastError);
  return request;
}

bool HttpRequest::PrepareRequest(HINTERNET request) {
  if (!m_settings.headers.empty() &&
      !HttpAddRequestHeadersA(request, m_settings.headers.c_str(), static_cast<DWORD>(-1),
                              HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
    m_dwLastError = GetLastError();
    LogError("HttpAddRequestHeaders failed (error: %1)", m_dwLastError);
    return false;
  }
  SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, m_settings.connectTimeout);
  SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, m_settings.receiveTimeout);
  DWORD mask = INTERNET_ERROR_MASK_COMBINED_SEC_CERT;
  InternetSetOptionA(request, INTERNET_OPTION_ERROR_MASK, &mask, sizeof mask);
  if (InternetSetStatusCallback(request, &HttpRequest::StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
    m_dwLastError = GetLastError();
    LogError("InternetSetStatusCallback failed (error: %1)", m_dwLastError);
  }
  return true;
}

// Sends until the outcome is settled: a failure that ends it at once, a
// repeat the limits refuse, or the answer of the library's dialog (shown
// also after a successful send, where it asks for a password on 401 or 407).
void HttpRequest::SendLoop(HINTERNET request) {
  using namespace kit_http;
  int clientCertificateRequests = 0;
  for (int pass = 1;; ++pass) {
    m_dwLastError = 0;
    m_bProxyDetected = false;
    if (pass > kMaxSendPasses || m_bAborted) {
      m_dwLastError = ERROR_CANCELLED;
      return;
    }
    Send(request);
    if (EndsSendAtOnce(m_dwLastError)) return;
    // Asked again after its answer: the request fails with what it meets.
    if (m_dwLastError == kErrorClientAuthCertNeeded && ++clientCertificateRequests > 1) return;
    if (!SettleStatus(request)) return;

    bool dialogShown = false;
    const DWORD answer = AskUser(request, &dialogShown);
    const AfterDialog next = DecideAfterDialog(m_dwLastError, answer);
    if (next == AfterDialog::kResendIgnoringRevocation) IgnoreRevocation(request);
    if (next != AfterDialog::kFinish) continue;
    Finish(dialogShown && answer == ERROR_CANCELLED);
    return;
  }
}

void HttpRequest::Send(HINTERNET request) {
  const bool withBody = m_settings.verb == "POST" || m_settings.verb == "PUT";
  std::vector<char>& body = m_settings.body;
  if (HttpSendRequestA(request, nullptr, 0, withBody && !body.empty() ? body.data() : nullptr,
                       withBody ? static_cast<DWORD>(body.size()) : 0))
    return;
  const DWORD error = GetLastError();
  m_dwLastError = error;
  const bool proxy = m_bProxyDetected;
  if (kit_http::IsCertificateError(error)) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Invalid certificate (error: %1).%2", SGetErrorText(error), ProxySuffix(proxy, true)));
  } else if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_INTERNET_TIMEOUT) && proxy) {
    if (IUErrorLog* log = g_pErrorLog)
      log->WriteLine(
          UString::Format("0,,,, %s\n", "The proxy server isn't responding. Please check your proxy settings.").c_str());
  } else {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("HttpSendRequest failed (error: %1).%2", SGetErrorText(error), ProxySuffix(proxy, false)));
  }
}

// Reads the response status. False when a repeat ends the loop: a second
// unknown certificate authority, or a second 401 or 407, in this request's
// life.
bool HttpRequest::SettleStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) status = 0;
  m_dwStatusCode = status;
  if ((m_dwLastError == kit_http::kErrorInvalidCa && ++m_iInvalidCaAttempts > 1) ||
      ((status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ) && ++m_iAuthAttempts > 1)) {
    m_dwLastError = kit_http::FinalSendError(m_dwLastError, status, false);
    return false;
  }
  return true;
}

// The library's dialog for the outcome, or the answer that stands in for it
// where none may be shown.
DWORD HttpRequest::AskUser(HINTERNET request, bool* dialogShown) {
  const DWORD error = m_dwLastError;
  *dialogShown = !m_settings.noDialogs && kit_http::NeedsDialog(error);
  if (m_settings.noDialogs) return kit_http::AnswerWithoutDialog(error);
  if (*dialogShown) m_dialogs.Take();
  const DWORD answer = InternetErrorDlg(
      m_dialogs.DialogParent(), request, error,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr);
  if (*dialogShown) m_dialogs.Release();
  return answer;
}

void HttpRequest::Finish(bool declinedInDialog) {
  const DWORD status = m_dwStatusCode;
  if (status == HTTP_STATUS_OK) return;
  m_dwLastError = kit_http::FinalSendError(m_dwLastError, status, declinedInDialog);
  LogRecord(kLogErrors, kFunction,
            UMessage::Format("HttpSendRequest failed with HTTP %1.%2", static_cast<unsigned>(status),
                             ProxySuffix(m_bProxyDetected, false)));
}

int HttpRequest::Fail(const char* text, DWORD error) {
  m_dwLastError = error;
  LogRecord(kLogWarnings, m_readLog.function, UMessage::Format(text, SGetErrorText(error)));
  return -2;
}

void HttpRequest::CountPiece(DWORD read) {
  // The rate is timed from the end of the first piece: the wait for the
  // server's first byte says nothing about how fast the rest comes.
  if (!m_bRateStarted) {
    m_bRateStarted = read > 0;
    m_dwRateStart = GetTickCount();
  } else {
    m_ullRateBytes += read;
  }
}

// Reads until `size` bytes are in or no data is ready. A piece is either what
// the library says is ready (the first query waits for data), or, once the
// connection has kept up a rate, a block sized to arrive within about a
// quarter second at that rate: one call brings what would take many small
// ones. A further piece is read only within the command's first half second,
// so the caller's wait, its Cancel and the connection's receive time-out (the
// caller's less a second) bound every command. At the end of the data it
// returns what it has; the next read finds the end. What was read comes
// before a failure; the next read meets the failure.
int HttpRequest::Read(void* buffer, DWORD size) {
  HINTERNET request;
  {
    std::lock_guard<std::mutex> lock(m_handlesLock);
    request = m_hRequest.get();
  }
  const DWORD started = GetTickCount();
  DWORD total = 0;
  while (total < size) {
    DWORD wanted =
        m_bRateStarted ? kit_http::BlockingReadSize(m_ullRateBytes, GetTickCount() - m_dwRateStart, size - total) : 0;
    if (wanted == 0) {
      DWORD available = 0;
      if (!request || !InternetQueryDataAvailable(request, &available, 0, 0)) {
        if (total > 0) break;
        return Fail(m_readLog.queryFailed, request ? GetLastError() : ERROR_INVALID_HANDLE);
      }
      if (available == 0) break;
      wanted = available < size - total ? available : size - total;
    }
    DWORD read = 0;
    if (!InternetReadFile(request, static_cast<char*>(buffer) + total, wanted, &read)) {
      if (total > 0) break;
      return Fail(m_readLog.readFailed, GetLastError());
    }
    total += read;
    CountPiece(read);
    if (read == 0 || m_bAborted || m_settings.receiveTimeout <= 1000 || GetTickCount() - started >= 500) break;
  }
  return static_cast<int>(total);
}

// One HTTP or HTTPS request through WinINet: the root, connection and request
// handles, the send loop with its dialogs and certificate retries, and the
// body read in paced blocks. Opened and read on the transfer worker; a caller
// may abort it from another thread by closing the root handle.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "foundation/handles.h"
#include "foundation/m_strings.h"
#include "http/transfer_dialog_presence.h"
#include "http/transfer_source.h"

namespace kit {
struct InternetHandleTraits {
  static HINTERNET Empty() { return nullptr; }
  static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using UniqueInternet = UniqueResource<HINTERNET, InternetHandleTraits>;  // InternetOpen, InternetConnect, HttpOpenRequest
}  // namespace kit

// Where the user agent and the certificate-dialog switch are read from
// (HKEY_LOCAL_MACHINE).
extern const char kURLConnectSettingsKey[];

// What a request sends and how long it may take; written before it opens.
struct HttpRequestSettings {
  UString userAgent;
  UString headers;
  UString verb = "GET";
  DWORD connectTimeout = 60000;
  DWORD receiveTimeout = 60000;
  // No dialog may be shown (a silent run): a problem a dialog would settle
  // is refused at once instead of waiting for an answer nobody gives.
  bool noDialogs = false;
  // The response goes to a file of the caller's: the library keeps no second
  // copy of it in the user's internet cache.
  bool noCacheWrite = false;
  std::vector<char> body;  // sent with "POST" and "PUT" only
};

// The function name and the texts a failed body read is logged with.
struct HttpReadLog {
  const char* function;
  const char* queryFailed;
  const char* readFailed;
};

class HttpRequest : public TransferSource {
 public:
  // Reads the user agent and the certificate switch from the settings key.
  HttpRequest(int accessType, DialogPresence& dialogs, const HttpReadLog& readLog);
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  HttpRequestSettings& Settings() { return m_settings; }
  const HttpRequestSettings& Settings() const { return m_settings; }
  DWORD StatusCode() const { return m_dwStatusCode; }

  // Opens the root handle unless one is open, with the settings' security
  // flags added; clears an earlier abort.
  void OpenSession();
  // Closes the root handle (the library's pending calls return at once) and
  // lets go of its children; a send loop in progress ends cancelled.
  void Abort();

  void Open(const UString& url) override;
  int Read(void* buffer, DWORD size) override;
  bool IsOpen() override;
  DWORD ContentLength() override;
  void Close() override;
  DWORD LastError() const override { return m_dwLastError; }

 private:
  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
  HINTERNET OpenRequest(const UString& host, int port, const UString& path, bool secure);
  bool PrepareRequest(HINTERNET request);
  void SendLoop(HINTERNET request);
  void Send(HINTERNET request);
  bool SettleStatus(HINTERNET request);
  DWORD AskUser(HINTERNET request, bool* dialogShown);
  void Finish(bool declinedInDialog);
  int Fail(const char* text, DWORD error);
  void CountPiece(DWORD read);

  HttpRequestSettings m_settings;
  DialogPresence& m_dialogs;
  const HttpReadLog m_readLog;
  const int m_iAccessType;
  DWORD m_dwSecurityFlags = 0;
  std::atomic<DWORD> m_dwStatusCode{0};
  std::atomic<DWORD> m_dwLastError{0};
  int m_iAuthAttempts = 0;
  int m_iInvalidCaAttempts = 0;
  std::atomic<bool> m_bProxyDetected{false};
  std::atomic<bool> m_bAborted{false};
  // Guards the three handles between the worker and a caller that closes the
  // root handle to abort it.
  std::mutex m_handlesLock;
  kit::UniqueInternet m_hRoot;
  kit::UniqueInternet m_hConnection;
  kit::UniqueInternet m_hRequest;
  // The rate the connection has kept since its first piece: bytes read
  // since then, and when that piece arrived (worker only).
  bool m_bRateStarted = false;
  unsigned long long m_ullRateBytes = 0;
  DWORD m_dwRateStart = 0;
};

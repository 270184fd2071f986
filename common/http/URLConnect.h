// One HTTP or HTTPS request through WinINet on a worker thread of its own.
// The caller connects (the request is sent and its status settled), then
// reads the body in pieces; every blocking library call runs on the worker
// while the caller waits with a time limit, dispatching window messages
// during a connect so that dialogs and the progress window stay alive.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <functional>
#include <vector>

#include "foundation/handles.h"
#include "foundation/m_strings.h"

namespace kit {
struct InternetHandleTraits {
  static HINTERNET Empty() { return nullptr; }
  static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using UniqueInternet = UniqueResource<HINTERNET, InternetHandleTraits>;  // InternetOpen, InternetConnect, HttpOpenRequest
}  // namespace kit

enum : int {
  COMMAND_NONE = 0,
  COMMAND_CONNECT = 1,
  COMMAND_READ = 2,
};

// Modes of URLConnect::Terminate.
enum : int {
  TERMINATE_START = 1,
  TERMINATE_STOP = 2,
  TERMINATE_HARD_STOP = 3,
  TERMINATE_STOP_AND_WAIT = 4,
};

// Posted to the owner window around the library's dialogs: wParam 0 when one
// opens, 1 when it has closed.
enum : UINT { kDialogNotifyMessage = WM_USER + 48 };

// Where the user agent and the certificate-dialog switch are read from
// (HKEY_LOCAL_MACHINE).
extern const char kURLConnectSettingsKey[];

class URLConnect {
 public:
  explicit URLConnect(int accessType = 0);
  virtual ~URLConnect();
  URLConnect(const URLConnect&) = delete;
  URLConnect& operator=(const URLConnect&) = delete;

  virtual void Close();
  // The response's Content-Length, 0 without a request or a length.
  virtual DWORD GetContentLength();
  virtual bool IsConnected();

  // Sends the request and settles its status on the worker. Returns 1 when
  // the request is open, 0 when it failed (lastError tells why), -2 when the
  // worker did not finish in time.
  int Connect(const char* url);
  // Up to `size` bytes of the body: the count read (at least 1), -1 at the
  // end of the data, -2 on failure (the thread's last error is set).
  int Read(void* buffer, int size);
  // Starts or stops the worker (TERMINATE_*).
  void Terminate(int mode);

  DWORD LastError() const { return m_dwLastError; }
  DWORD StatusCode() const { return m_dwStatusCode; }

  // Settings, written before Connect.
  HWND m_hOwnerWindow = nullptr;  // parent of the library's dialogs; null: the foreground window
  UString m_strUserAgent;
  UString m_strHeaders;
  UString m_strVerb = "GET";
  DWORD m_dwConnectTimeout = 60000;
  DWORD m_dwReceiveTimeout = 60000;
  // No dialog may be shown (a silent run): a problem a dialog would settle
  // is refused at once instead of waiting for an answer nobody gives.
  bool m_bNoDialogs = false;
  // The response goes to a file of the caller's: the library keeps no second
  // copy of it in the user's internet cache.
  bool m_bNoCacheWrite = false;
  std::vector<char> m_body;  // sent with "POST" and "PUT" only

 protected:
  virtual void BeginConnection();
  virtual void ThreadObjectProc();

  // The worker's loop: waits for each command, runs it, reports it done;
  // ends once a stop is requested.
  void ServeCommands(const std::function<void(int)>& run);
  // The body of COMMAND_READ in HTTP mode, logged under `function`.
  void ReadAvailable(const char* function, const char* queryFailedText, const char* readFailedText);
  // The shared part of Read: takes what the worker read ahead, or runs a read
  // command that refills the read-ahead buffer and waits for it.
  int RunReadCommand(void* buffer, int size, const char* function);
  void CloseHttpHandles();
  void PostToOwner(UINT message, WPARAM wParam) const;

  DWORD m_dwStatusCode = 0;
  DWORD m_dwLastError = 0;
  int m_iAuthAttempts = 0;
  int m_iInvalidCaAttempts = 0;
  kit::UniqueInternet m_hConnection;
  DWORD m_dwSecurityFlags = 0;
  DWORD m_dwRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_CACHE_IF_NET_FAIL |
                           INTERNET_FLAG_PRAGMA_NOCACHE;
  kit::UniqueInternet m_hRequest;
  kit::UniqueInternet m_hRoot;
  kit::UniqueHandle m_hCommandEvent;
  kit::UniqueHandle m_hDoneEvent;
  kit::UniqueHandle m_hWorker;
  UString m_strUrl;
  std::atomic<bool> m_bStopRequested{false};
  // What the worker read beyond the caller's last piece: the worker fills it
  // with what the connection has ready, the caller's reads take from it, and
  // only an empty one costs a round to the worker.
  std::vector<char> m_readAhead;
  DWORD m_dwAheadPos = 0;
  DWORD m_dwAheadEnd = 0;
  // The rate the connection has kept since its first piece: bytes read
  // since then, and when that piece arrived (worker thread only).
  bool m_bRateStarted = false;
  unsigned long long m_ullRateBytes = 0;
  DWORD m_dwRateStart = 0;
  void* m_pReadBuffer = nullptr;
  int m_iReadSize = 0;
  std::atomic<int> m_iReadResult{-1};
  std::atomic<int> m_iCommand{COMMAND_NONE};
  std::atomic<bool> m_bProxyDetected{false};
  int m_iAccessType = 0;
  CRITICAL_SECTION m_csUiLock;
  kit::UniqueHandle m_hUiMutex;
  // Guards the three library handles between the worker and a caller that
  // closes the root handle to abort it.
  CRITICAL_SECTION m_csHandles;

 private:
  static unsigned __stdcall WorkerStart(void* self);
  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
  void StartWorker();
  void StopWorker(int mode);
  void SendLoop(HINTERNET request, bool secure);
  void TakeDialogLock();
  void ReleaseDialogLock();
  bool DialogOnScreen();
};

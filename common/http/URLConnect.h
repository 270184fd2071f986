// One HTTP or HTTPS request through WinINet on a worker thread of its own.
// The caller connects (the request is sent and its status settled), then
// reads the body in pieces; every blocking library call runs on the worker
// while the caller waits with a time limit, dispatching window messages
// during a connect so that dialogs and the progress window stay alive.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "foundation/m_strings.h"
#include "http/transfer_dialog_presence.h"
#include "http/transfer_http_request.h"
#include "http/transfer_source.h"
#include "http/transfer_worker.h"

// Modes of URLConnect::Terminate.
enum : int {
  TERMINATE_START = 1,
  TERMINATE_STOP = 2,
  TERMINATE_HARD_STOP = 3,
  TERMINATE_STOP_AND_WAIT = 4,
};

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
  // the request is open, 0 when it failed (LastError tells why), -2 when the
  // worker did not finish in time.
  int Connect(const char* url);
  // Up to `size` bytes of the body: the count read (at least 1), -1 at the
  // end of the data, -2 on failure (the thread's last error is set).
  int Read(void* buffer, int size);
  // Starts or stops the worker (TERMINATE_*).
  void Terminate(int mode);

  DWORD LastError() const;
  DWORD StatusCode() const { return m_http.StatusCode(); }

  // Settings, written before Connect.
  void SetOwnerWindow(HWND owner) { m_dialogs.SetOwner(owner); }  // null: the foreground window
  void SetUserAgent(const UString& agent) { m_http.Settings().userAgent = agent; }
  void SetHeaders(const UString& headers) { m_http.Settings().headers = headers; }
  void SetVerb(const UString& verb) { m_http.Settings().verb = verb; }
  void SetConnectTimeout(DWORD ms) { m_http.Settings().connectTimeout = ms; }
  void SetReceiveTimeout(DWORD ms) { m_http.Settings().receiveTimeout = ms; }
  void SetNoDialogs(bool noDialogs) { m_http.Settings().noDialogs = noDialogs; }
  void SetNoCacheWrite(bool noCacheWrite) { m_http.Settings().noCacheWrite = noCacheWrite; }
  void SetBody(const std::vector<char>& body) { m_http.Settings().body = body; }  // sent with "POST" and "PUT" only

 protected:
  // A connection whose failed body reads are logged with `readLog`, whose
  // connect tries `connectAttempts` times at most.
  URLConnect(int accessType, const HttpReadLog& readLog, int connectAttempts);
  HttpRequest& Http() { return m_http; }
  // From now on connects open `source` instead of the HTTP request (it lives
  // as long as the worker runs).
  void UseSource(TransferSource& source) { m_source = &source; }

 private:
  void RunCommand(int command);
  // Refills the read-ahead buffer through a read command: the count, -1 at
  // the end of the data, -2 on failure.
  int FillReadAhead();

  DialogPresence m_dialogs;
  HttpRequest m_http;
  TransferSource* m_source;
  const int m_iConnectAttempts;
  bool m_bWorkerFailed = false;
  UString m_strUrl;
  // What the worker read beyond the caller's last piece: the worker fills it
  // with what the source has ready, the caller's reads take from it, and
  // only an empty one costs a round to the worker.
  std::vector<char> m_readAhead;
  DWORD m_dwAheadPos = 0;
  DWORD m_dwAheadEnd = 0;
  std::atomic<int> m_iReadResult{-1};
  TransferWorker m_worker;  // last: it goes first, while what it uses still exists
};

// URLConnect for a local file as well as an HTTP(S) URL, and whole transfers
// in one call: a download into a file and a post of a body.
#pragma once

#include "http/URLConnect.h"
#include "http/transfer_file_source.h"

class URLConnectEx : public URLConnect {
 public:
  explicit URLConnectEx(int accessType = 0);
  ~URLConnectEx() override;

  // Downloads `url` into `targetPath`: 0 when the whole body arrived, -1 when
  // the connection failed, the system error when the target cannot be
  // created, -2 when a read failed (the partial target is left in place).
  virtual int DownloadFile(const char* url, const char* targetPath);
  // Sends `body` with "POST"; returns Connect's result.
  virtual int Post(const char* url, const std::vector<char>& body);
  // Reads and discards the rest of the response: -1 at its end, -2 on failure.
  virtual int Read();
  using URLConnect::Read;

  // 1 http, 2 https, 3 ftp, 4 a local file; 0 before the first connect.
  int Scheme() const { return m_file.Scheme(); }

 private:
  FileSource m_file;
};

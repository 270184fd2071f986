#include "http/URLConnectEx.h"

#include "foundation/errorlog.h"

namespace {
const HttpReadLog kReadLog = {"URLConnectEx::ThreadObjectProc", "InternetQueryDataAvailable failed (error: %1)",
                              "InternetReadFile failed (error: %1)"};
}  // namespace

URLConnectEx::URLConnectEx(int accessType) : URLConnect(accessType, kReadLog, 1), m_file(Http()) { UseSource(m_file); }

URLConnectEx::~URLConnectEx() {
  // Stop the worker while the file source it reads still exists.
  Terminate(TERMINATE_STOP);
}

int URLConnectEx::DownloadFile(const char* url, const char* targetPath) {
  if (Connect(url) != 1) {
    LogRecord(kLogWarnings, "URLConnectEx::DownloadFile", UMessage::Format("Connection failed (URL: %1)", url));
    return -1;
  }
  kit::UniqueFile target(
      CreateFileA(targetPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return static_cast<int>(GetLastError());
  char buffer[1024];
  int result;
  while ((result = Read(buffer, sizeof buffer)) >= 0) {
    DWORD written = 0;
    WriteFile(target.get(), buffer, static_cast<DWORD>(result), &written, nullptr);
  }
  return result == -1 ? 0 : result;
}

int URLConnectEx::Post(const char* url, const std::vector<char>& body) {
  SetVerb("POST");
  SetBody(body);
  int result = Connect(url);
  if (result != 1)
    LogRecord(kLogErrors, "URLConnectEx::Post", UMessage::Format("%1, %2, %3", "Failed to perform connect", url, result));
  return result;
}

int URLConnectEx::Read() {
  char buffer[1024];
  int result = -1;
  while (IsConnected()) {
    result = Read(buffer, sizeof buffer);
    if (result < 0) break;
    Sleep(1);
  }
  return result;
}

#include "http/URLConnectEx.h"

#include "http/codebase.h"
#include "foundation/errorlog.h"
#include "foundation/m_textconv.h"

URLConnectEx::URLConnectEx(int accessType) : URLConnect(accessType) {}

URLConnectEx::~URLConnectEx() {
  // Stop the worker while this class's part of it still exists.
  Terminate(TERMINATE_STOP);
  m_hFile.reset();
}

void URLConnectEx::Close() {
  m_hFile.reset();
  CloseHttpHandles();
}

DWORD URLConnectEx::GetContentLength() {
  if (m_iScheme == kProtocolFile) return m_hFile ? GetFileSize(m_hFile.get(), nullptr) : 0;
  return URLConnect::GetContentLength();
}

bool URLConnectEx::IsConnected() {
  if (m_iScheme == kProtocolFile) return m_hFile.valid();
  return URLConnect::IsConnected();
}

void URLConnectEx::BeginConnection() {
  static const char kFunction[] = "URLConnectEx::BeginConnection";
  m_dwLastError = 0;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(m_strUrl.c_str(), &m_iScheme, &host, &path, &port, false)) {
    if (GetFileAttributesA(m_strUrl.c_str()) == INVALID_FILE_ATTRIBUTES) {
      m_dwLastError = ERROR_INVALID_PARAMETER;
      LogRecord(kLogWarnings, kFunction, UMessage::Format("Invalid URL (%1)", m_strUrl));
      Close();
      return;
    }
    m_iScheme = kProtocolFile;
    host = UString();
    path = m_strUrl;
  }
  if (m_iScheme == kProtocolFile) {
    const UString filePath = host + path;
    m_hFile.reset(CreateFileA(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
      m_dwLastError = GetLastError();
      LogRecord(kLogWarnings, kFunction, UMessage::Format("Invalid file (%1)", filePath));
    }
  } else {
    URLConnect::BeginConnection();
  }
  if (m_dwLastError != 0) Close();
}

void URLConnectEx::ReadFromFile() {
  DWORD read = 0;
  if (!ReadFile(m_hFile.get(), m_pReadBuffer, static_cast<DWORD>(m_iReadSize), &read, nullptr)) {
    m_dwLastError = GetLastError();
    m_iReadResult = -2;
    return;
  }
  m_iReadResult = static_cast<int>(read);
}

void URLConnectEx::ThreadObjectProc() {
  ServeCommands([this](int command) {
    if (command == COMMAND_CONNECT) {
      BeginConnection();
    } else if (command == COMMAND_READ) {
      if (m_iScheme == kProtocolFile)
        ReadFromFile();
      else
        ReadAvailable("URLConnectEx::ThreadObjectProc", "InternetQueryDataAvailable failed (error: %1)",
                      "InternetReadFile failed (error: %1)");
    }
  });
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
  m_strVerb = "POST";
  m_body = body;
  int result = Connect(url);
  if (result != 1)
    LogRecord(kLogErrors, "URLConnectEx::Post",
              UMessage::Format("%1, %2, %3", "Failed to perform connect", url, result));
  return result;
}

int URLConnectEx::Read() {
  char buffer[1024];
  int result = -1;
  while (IsConnected()) {
    result = RunReadCommand(buffer, sizeof buffer, "URLConnect::Read");
    if (result < 0) break;
    Sleep(1);
  }
  return result;
}

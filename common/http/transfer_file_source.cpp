#include "http/transfer_file_source.h"

#include "foundation/errorlog.h"
#include "foundation/m_textconv.h"
#include "http/codebase.h"

bool FileSource::FileMode() const { return m_iScheme == kProtocolFile; }

void FileSource::Open(const UString& url) {
  static const char kFunction[] = "URLConnectEx::BeginConnection";
  m_dwLastError = 0;
  m_bLocal = true;
  int scheme = m_iScheme;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(url.c_str(), &scheme, &host, &path, &port, false)) {
    if (GetFileAttributesA(url.c_str()) == INVALID_FILE_ATTRIBUTES) {
      m_dwLastError = ERROR_INVALID_PARAMETER;
      LogRecord(kLogWarnings, kFunction, UMessage::Format("Invalid URL (%1)", url));
      Close();
      return;
    }
    scheme = kProtocolFile;
    host = UString();
    path = url;
  }
  m_iScheme = scheme;
  if (FileMode()) {
    const UString filePath = host + path;
    m_hFile.reset(CreateFileA(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
      m_dwLastError = GetLastError();
      LogRecord(kLogWarnings, kFunction, UMessage::Format("Invalid file (%1)", filePath));
    }
  } else {
    m_bLocal = false;
    m_network.Open(url);
  }
  if (LastError() != 0) Close();
}

int FileSource::Read(void* buffer, DWORD size) {
  if (!FileMode()) {
    m_bLocal = false;
    return m_network.Read(buffer, size);
  }
  m_bLocal = true;
  DWORD read = 0;
  if (!ReadFile(m_hFile.get(), buffer, size, &read, nullptr)) {
    m_dwLastError = GetLastError();
    return -2;
  }
  return static_cast<int>(read);
}

bool FileSource::IsOpen() { return FileMode() ? m_hFile.valid() : m_network.IsOpen(); }

DWORD FileSource::ContentLength() {
  if (FileMode()) return m_hFile ? GetFileSize(m_hFile.get(), nullptr) : 0;
  return m_network.ContentLength();
}

void FileSource::Close() {
  m_hFile.reset();
  m_network.Close();
}

// Package acquisition: brings the engine's own copy of a package, from a
// local path or an HTTP(S) URL, into its private temporary folder.
#include "engine/USmartUpdateEx.h"

#include <wininet.h>

#include <vector>

#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_textconv.h"
#include "http/URLConnectEx.h"

namespace {

const char kDownloadFunction[] = "USmartUpdateEx::DownloadPackage()";
const char kLoadFunction[] = "USmartUpdateEx::LoadCAB()";
const char kCookiePrefix[] = "RI_Zazirez=";
// One piece of a transfer: the whole file streams through a buffer of this size.
const int kPieceSize = 10000;
// The longest folder name CreateUniqueTempFolder makes: a backslash, the
// prefix and eight numbers of up to three digits.
const std::size_t kUniqueNameLength = 1 + 12 + 8 * 3;
// The result of a package of zero bytes, local or downloaded: the program's
// general failure, which callers have been told to expect for it.
const int kEmptyPackage = -1;

// Whether the transfer posts its progress: only to a window, and only when
// the size is known.
bool NotifiesProgress(HWND window, DWORD total) { return total != 0 && window && IsWindow(window); }

// A local package (a plain path or a "file://" URL) must be a readable file
// with content; checked before anything is written.
void CheckLocalPackage(const UString& path, const char* codebase) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    KL_THROW(static_cast<int>(GetLastError()), kDownloadFunction, "EXCEPTION - %s, %s",
             "Installation package not found", codebase);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    KL_THROW(ERROR_DIRECTORY, kDownloadFunction, "EXCEPTION - %s, %s", "Installation package is a folder", codebase);
  kit::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    KL_THROW(static_cast<int>(GetLastError()), kDownloadFunction, "EXCEPTION - %s, %s, %s",
             "Installation package cannot be read", codebase, SGetErrorText(GetLastError()).c_str());
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart == 0)
    KL_THROW(kEmptyPackage, kDownloadFunction, "EXCEPTION - %s, %s", "Installation package is empty", codebase);
}

// What the codebase names must be something this engine can fetch.
void CheckSource(const UString& url, const char* codebase) {
  if (url.length() >= INTERNET_MAX_URL_LENGTH)
    KL_THROW(ERROR_FILENAME_EXCED_RANGE, kDownloadFunction, "EXCEPTION - %s, %s",
             "Path to installation package is too long", codebase);
  int protocol = 0;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(url.c_str(), &protocol, &host, &path, &port, true)) {
    CheckLocalPackage(url, codebase);
    return;
  }
  if (protocol == kProtocolFile) {
    CheckLocalPackage(host + path, codebase);
    return;
  }
  if (protocol != kProtocolHttp && protocol != kProtocolHttps)
    KL_THROW(ERROR_INTERNET_UNRECOGNIZED_SCHEME, kDownloadFunction, "EXCEPTION - %s, %s",
             "Unsupported scheme of installation package", codebase);
  if (host.empty())
    KL_THROW(ERROR_INTERNET_INVALID_URL, kDownloadFunction, "EXCEPTION - %s, %s", "Invalid URL of installation package",
             codebase);
}

// Stores "name=value" as a cookie for the url.
void StoreCookie(const UString& url, const UString& cookie) {
  const std::size_t equals = cookie.str().find('=', 1);
  if (cookie.empty() || equals == std::string::npos) return;
  const UString name = UString(cookie.str().substr(0, equals)).Trimmed();
  const UString value = UString(cookie.str().substr(equals + 1)).Trimmed();
  InternetSetCookieA(url.c_str(), name.c_str(), value.c_str());
}

}  // namespace

UString USmartUpdateEx::DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request) {
  (void)packagePath;
  const char* text = codebase ? codebase : "";
  if (!request) KL_THROW(ERROR_INVALID_PARAMETER, kDownloadFunction, "EXCEPTION - %s", "output parameter is NULL");

  // Everything about the codebase is settled before anything is written.
  UpdateInfo info;
  ParseUpdateInfo(text, &info);
  if (info.fileName.empty() || info.url.empty())
    KL_THROW(ERROR_INVALID_PARAMETER, kDownloadFunction, "EXCEPTION - %s, %s", "Invalid path to installation package",
             text);
  CheckSource(info.url, text);

  // Every download gets a new folder made here: a name kept from an earlier
  // package is removed and never adopted, whatever stands under it now.
  RemoveTempFolder(&m_strTempFolder, &m_tempFolderHold);
  const UString tempBase = SGetTempPath();
  if (tempBase.empty())
    KL_THROW(-1, "USmartUpdateEx::DownloadPackage", "EXCEPTION - %s",
             "Unable to get temporary foldername for this userprofile");
  if (tempBase.length() + kUniqueNameLength + 1 + info.fileName.length() >= MAX_PATH)
    KL_THROW(ERROR_FILENAME_EXCED_RANGE, kDownloadFunction, "EXCEPTION - %s, %s",
             "Path to installation package is too long", text);

  // The folder goes again when the download fails: a failed download leaves
  // nothing behind.
  auto removeFolder = kit::MakeScopeGuard([&] { RemoveTempFolder(&m_strTempFolder, &m_tempFolderHold); });
  if (GetFileAttributesA(tempBase.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogRecord(kLogWarnings, kDownloadFunction, UMessage::Format("%1, %2", "create temp path", tempBase));
    CreateDirectoryA(tempBase.c_str(), nullptr);
  }
  const int status = CreateUniqueTempFolder(tempBase.c_str(), &m_strTempFolder, "", &m_tempFolderHold);
  if (status < 0)
    KL_THROW(status, kDownloadFunction, "EXCEPTION - %s, %s", "Unable to create unique temporary foldername errorCode:",
             UString::Format("%ld", static_cast<long>(status)).c_str());

  request->url = info.url;
  request->cookie = UString(kCookiePrefix) + m_strText4;
  request->window = m_hWnd;
  request->filePath = m_strTempFolder + "\\" + info.fileName;

  if (LoadCAB(request) != 0) {
    DWORD error = GetLastError();
    DeleteFileA(request->filePath.c_str());
    KL_THROW(static_cast<int>(error ? error : ERROR_UNEXP_NET_ERR), kDownloadFunction, "EXCEPTION - %s, %s",
             "LoadCAB() failed", request->url.c_str());
  }
  LogRecord(kLogTrace, kDownloadFunction,
            UMessage::Format("package has been downloaded, size=%1",
                             static_cast<unsigned long long>(UGetFileSize(request->filePath.c_str()))));
  removeFolder.release();
  return request->filePath;
}

int USmartUpdateEx::LoadCAB(GetCABInfo* request) {
  int result = 0;
  DWORD keptError = 0;
  bool notify = false;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::LoadCAB", kLoadFunction), result, [&] {
    if (!request) KL_THROW(ERROR_INVALID_PARAMETER, kLoadFunction, "EXCEPTION - %s", "output parameter is NULL");
    StoreCookie(request->url, request->cookie);

    kit::UniqueFile file(CreateFileA(request->filePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      keptError = GetLastError();
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s, %s", "fopen() failed", request->filePath.c_str(),
               SGetErrorText(keptError).c_str());
    }
    URLConnectEx urlc(0);
    urlc.SetVerb("GET");
    urlc.SetOwnerWindow(request->window);
    if (!m_strUserAgent.empty()) urlc.SetUserAgent(m_strUserAgent);
    urlc.SetReceiveTimeout(m_dwTransferReceiveTimeoutMs);
    urlc.SetNoDialogs(m_bSilent);
    urlc.SetNoCacheWrite(true);

    const int connected = urlc.Connect(request->url.c_str());
    if (connected < 1) {
      keptError = urlc.LastError();
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "urlc.Connect() failed", UString::Format("%d", connected).c_str());
    }
    const DWORD total = urlc.GetContentLength();
    notify = NotifiesProgress(request->window, total);
    if (notify) PostMessageA(request->window, kProgressStartMessage, 0, static_cast<LPARAM>(total / 100));

    std::vector<char> piece(kPieceSize);
    unsigned long long received = 0;
    for (;;) {
      const int read = urlc.Read(piece.data(), kPieceSize);
      if (read == -1) break;
      if (read < 0) {
        keptError = GetLastError();
        KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "urlc.Read() failed", UString::Format("%d", read).c_str());
      }
      DWORD written = 0;
      if (!WriteFile(file.get(), piece.data(), static_cast<DWORD>(read), &written, nullptr) ||
          written != static_cast<DWORD>(read)) {
        keptError = GetLastError();
        KL_THROW(-1, kLoadFunction, "EXCEPTION - %s", "fwrite failed");
      }
      received += static_cast<unsigned long long>(read);
      if (CheckStopRequest(0) != 0) {
        keptError = ERROR_CANCELLED;
        KL_THROW(-1, kLoadFunction, "EXCEPTION - %s", "cancelled");
      }
      if (notify) PostMessageA(request->window, kProgressPieceMessage, 0, static_cast<LPARAM>(read / 100));
    }
    // A connection that ends before the announced length is a failure, not
    // a shorter package; so is a package without a single byte.
    if (received < total) {
      keptError = ERROR_UNEXP_NET_ERR;
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "incomplete download",
               UString::Format("%llu of %lu bytes", received, static_cast<unsigned long>(total)).c_str());
    }
    if (received == 0) {
      keptError = static_cast<DWORD>(kEmptyPackage);
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "Installation package is empty", request->url.c_str());
    }
  });
  if (notify) PostMessageA(request->window, kProgressEndMessage, 0, 0);
  if (keptError) SetLastError(keptError);
  return result;
}

#include "engine/package_acquisition.h"

#include <wininet.h>

#include <utility>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_textconv.h"
#include "http/URLConnectEx.h"
#include "http/codebase.h"

namespace {

const char kDownloadFunction[] = "USmartUpdateEx::DownloadPackage()";
const char kLoadFunction[] = "USmartUpdateEx::LoadCAB()";
const char kRunObjectProc[] = "USmartUpdateEx::RunObjectProc()";
const char kCookiePrefix[] = "RI_Zazirez=";
// One piece of a transfer: the whole file streams through a buffer of this size.
const int kPieceSize = 10000;
// The longest folder name CreateUniqueTempFolder makes: a backslash, the
// prefix and eight numbers of up to three digits.
const std::size_t kUniqueNameLength = 1 + 12 + 8 * 3;
// The result of a package of zero bytes, local or downloaded: the program's
// general failure, which callers have been told to expect for it.
const int kEmptyPackage = -1;

// The VPN client leaves its tunnel package here for the engine to pick up.
const char kTunnelPackage[] = "tunnelpkg.cab";
const char kTunnelFolder[] = "C:\\Program Files (x86)\\Norvane VPN\\Norvane_TMP\\";

bool IsFile(const UString& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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

PackageAcquisition::PackageAcquisition(const AcquisitionSettings& settings, RequestTempFolder& folder,
                                       std::function<bool()> stopRequested)
    : m_settings(settings), m_folder(folder), m_stopRequested(std::move(stopRequested)) {}

UString PackageAcquisition::Acquire(const UString& codebase, GetCABInfo* request) {
  UpdateInfo info;
  ParseUpdateInfo(codebase.c_str(), &info);
  if (info.fileName == kTunnelPackage && info.versionHigh == 0xFFFFFFFFu && info.versionLow == 0xFFFFFFFFu) {
    const UString local = UString(kTunnelFolder) + info.fileName;
    // Copied into the private temporary folder like any other package: the
    // VPN client's folder is not ours to verify in, nor to unpack in.
    if (IsFile(local)) return Download(local.c_str(), request);
    LogRecord(kLogErrors, kRunObjectProc, UMessage::Format("file not found in path (: %1)", local));
  }
  return Download(codebase.c_str(), request);
}

UString PackageAcquisition::Download(const char* codebase, GetCABInfo* request) {
  const char* text = codebase ? codebase : "";
  if (!request) KL_THROW(ERROR_INVALID_PARAMETER, kDownloadFunction, "EXCEPTION - %s", "output parameter is NULL");

  // Everything about the codebase is settled before anything is written.
  UpdateInfo info;
  ParseUpdateInfo(text, &info);
  if (info.fileName.empty() || info.url.empty())
    KL_THROW(ERROR_INVALID_PARAMETER, kDownloadFunction, "EXCEPTION - %s, %s", "Invalid path to installation package",
             text);
  CheckSource(info.url, text);
  const UString tempBase = TempBase(info.fileName, text);

  // The folder goes again when the download fails: a failed download leaves
  // nothing behind.
  auto removeFolder = kit::MakeScopeGuard([&] { m_folder.Remove(); });
  MakeFolder(tempBase);

  request->url = info.url;
  request->cookie = UString(kCookiePrefix) + m_settings.sessionValue;
  request->window = m_settings.window;
  request->filePath = m_folder.Path() + "\\" + info.fileName;

  if (Load(request) != 0) {
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

// Every download gets a new folder made here: a name kept from an earlier
// package is removed and never adopted, whatever stands under it now.
UString PackageAcquisition::TempBase(const UString& fileName, const char* codebase) {
  m_folder.Remove();
  const UString tempBase = SGetTempPath();
  if (tempBase.empty())
    KL_THROW(-1, "USmartUpdateEx::DownloadPackage", "EXCEPTION - %s",
             "Unable to get temporary foldername for this userprofile");
  if (tempBase.length() + kUniqueNameLength + 1 + fileName.length() >= MAX_PATH)
    KL_THROW(ERROR_FILENAME_EXCED_RANGE, kDownloadFunction, "EXCEPTION - %s, %s",
             "Path to installation package is too long", codebase);
  return tempBase;
}

void PackageAcquisition::MakeFolder(const UString& tempBase) {
  if (GetFileAttributesA(tempBase.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogRecord(kLogWarnings, kDownloadFunction, UMessage::Format("%1, %2", "create temp path", tempBase));
    CreateDirectoryA(tempBase.c_str(), nullptr);
  }
  const int status = m_folder.Create(tempBase.c_str());
  if (status < 0)
    KL_THROW(status, kDownloadFunction, "EXCEPTION - %s, %s", "Unable to create unique temporary foldername errorCode:",
             UString::Format("%ld", static_cast<long>(status)).c_str());
}

int PackageAcquisition::Load(GetCABInfo* request) {
  int result = 0;
  m_dwKeptError = 0;
  m_bNotify = false;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::LoadCAB", kLoadFunction), result, [&] {
    if (!request) KL_THROW(ERROR_INVALID_PARAMETER, kLoadFunction, "EXCEPTION - %s", "output parameter is NULL");
    StoreCookie(request->url, request->cookie);
    kit::UniqueFile file(OpenTarget(request->filePath));
    URLConnectEx urlc(0);
    Connect(urlc, *request);
    const DWORD total = urlc.GetContentLength();
    m_bNotify = NotifiesProgress(request->window, total);
    if (m_bNotify) PostMessageA(request->window, kProgressStartMessage, 0, static_cast<LPARAM>(total / 100));
    CheckComplete(Stream(urlc, file.get(), request->window), total, request->url);
  });
  if (m_bNotify) PostMessageA(request->window, kProgressEndMessage, 0, 0);
  if (m_dwKeptError) SetLastError(m_dwKeptError);
  return result;
}

HANDLE PackageAcquisition::OpenTarget(const UString& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    m_dwKeptError = GetLastError();
    KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s, %s", "fopen() failed", path.c_str(),
             SGetErrorText(m_dwKeptError).c_str());
  }
  return file;
}

void PackageAcquisition::Connect(URLConnectEx& connection, const GetCABInfo& request) {
  connection.SetVerb("GET");
  connection.SetOwnerWindow(request.window);
  if (!m_settings.userAgent.empty()) connection.SetUserAgent(m_settings.userAgent);
  connection.SetReceiveTimeout(m_settings.receiveTimeoutMs);
  connection.SetNoDialogs(m_settings.silent);
  connection.SetNoCacheWrite(true);

  const int connected = connection.Connect(request.url.c_str());
  if (connected < 1) {
    m_dwKeptError = connection.LastError();
    KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "urlc.Connect() failed", UString::Format("%d", connected).c_str());
  }
}

// Writes every piece the connection delivers to the file; the bytes written.
unsigned long long PackageAcquisition::Stream(URLConnectEx& connection, HANDLE file, HWND window) {
  std::vector<char> piece(kPieceSize);
  unsigned long long received = 0;
  for (;;) {
    const int read = connection.Read(piece.data(), kPieceSize);
    if (read == -1) break;
    if (read < 0) {
      m_dwKeptError = GetLastError();
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "urlc.Read() failed", UString::Format("%d", read).c_str());
    }
    DWORD written = 0;
    if (!WriteFile(file, piece.data(), static_cast<DWORD>(read), &written, nullptr) ||
        written != static_cast<DWORD>(read)) {
      m_dwKeptError = GetLastError();
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s", "fwrite failed");
    }
    received += static_cast<unsigned long long>(read);
    if (m_stopRequested && m_stopRequested()) {
      m_dwKeptError = ERROR_CANCELLED;
      KL_THROW(-1, kLoadFunction, "EXCEPTION - %s", "cancelled");
    }
    if (m_bNotify) PostMessageA(window, kProgressPieceMessage, 0, static_cast<LPARAM>(read / 100));
  }
  return received;
}

// A connection that ends before the announced length is a failure, not a
// shorter package; so is a package without a single byte.
void PackageAcquisition::CheckComplete(unsigned long long received, DWORD total, const UString& url) {
  if (received < total) {
    m_dwKeptError = ERROR_UNEXP_NET_ERR;
    KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "incomplete download",
             UString::Format("%llu of %lu bytes", received, static_cast<unsigned long>(total)).c_str());
  }
  if (received == 0) {
    m_dwKeptError = static_cast<DWORD>(kEmptyPackage);
    KL_THROW(-1, kLoadFunction, "EXCEPTION - %s, %s", "Installation package is empty", url.c_str());
  }
}

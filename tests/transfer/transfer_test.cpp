// Package transfers against the local test server: what arrives on disk, the
// progress the window sees, the codes and log lines of every failure, and
// that nothing is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "engine/USmartUpdateEx.h"
#include "http/URLConnectEx.h"
#include "support/http_server.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"
#include "support/window_driver.h"

namespace {

// What an acquisition ended with and what its window was told.
struct Outcome {
  int code = -100;
  std::string path;
  int starts = 0, pieces = 0, ends = 0, dialogs = 0;
  long long total = 0, sum = 0;
};

LRESULT CALLBACK CountProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* p = reinterpret_cast<Outcome*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (p && message == kProgressStartMessage) ++p->starts, p->total = lParam;
  if (p && message == kProgressPieceMessage) ++p->pieces, p->sum += lParam;
  if (p && message == kProgressEndMessage) ++p->ends;
  if (p && message == kDialogNotifyMessage) ++p->dialogs;
  return DefWindowProcA(window, message, wParam, lParam);
}

class Engine : public USmartUpdateEx {
 public:
  explicit Engine(const char* session) { RequestState().Begin(InstallRequest{"", "", "", session, nullptr, 0}); }
  std::string TempFolder() { return RequestState().TempFolder().Path().c_str(); }
  // The acquisition as a request runs it: the code of what it raised, or 0.
  int Acquire(const std::string& codebase, std::string* path = nullptr) {
    int result = 0;
    GetCABInfo info;
    return CatchAndLog(KL_CATCH_SITE("test", "test"), result, [&] {
      UString file = DownloadPackage("", codebase.c_str(), &info);
      if (path) *path = file.c_str();
    });
  }
  std::string m_strRequestCodebase;

 protected:
  // A request whose route is the download alone (decision 2: its result counts).
  std::int32_t RunObjectProc() override {
    RequestState().SetDecision(UpdateDecision::kInstall);
    return Acquire(m_strRequestCodebase);
  }
};

// Runs the acquisition on a thread of its own while this thread's window
// counts the progress messages, as the program's progress window would;
// `poll` runs between the rounds of messages.
Outcome Download(Engine& engine, const std::string& codebase, const std::function<void()>& poll = [] {}) {
  static const ATOM kClass = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountProgress;
    wc.lpszClassName = "kittest_progress";
    return RegisterClassA(&wc);
  }();
  Outcome out;
  HWND window = CreateWindowA(MAKEINTATOM(kClass), "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&out));
  engine.SetWindow(window);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    out.code = engine.Acquire(codebase, &out.path);
    done = true;
  });
  MSG msg;
  for (bool last = false; !last; poll()) {
    last = done;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  worker.join();
  DestroyWindow(window);
  return out;
}

// The names of the Norvane_TMP_ folders below `base`.
std::vector<std::string> TempFoldersIn(const std::string& base) {
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((base + "\\Norvane_TMP_*").c_str(), &data));
  std::vector<std::string> names;
  if (find)
    do names.push_back(data.cFileName);
    while (FindNextFileA(find.get(), &data));
  return names;
}

// The user's temporary folder pointed at a fresh folder for one test.
struct TempRoot {
  kittest::TempFolder folder;
  TempRoot() { SetEnvironmentVariableA("TMP", folder.path().c_str()); }
  ~TempRoot() { SetEnvironmentVariableA("TMP", nullptr); }
};

// code 0: `size` bytes of the server's pattern arrive; progress: 1039..1041
// expected; logLine: a fragment the log must hold.
struct Scenario {
  const char* name;
  std::string codebase;
  int code;
  std::uint64_t size;
  bool progress;
  const char* logLine;
};

// Each scenario is the first download of a fresh engine.
void Check(const Scenario& s, const TempRoot& temp, kittest::MemoryLog& log, bool silent = false) {
  SCOPED_TRACE(s.name);
  log.Clear();
  Engine engine("session-42");
  engine.SetTransferReceiveTimeout(3000);
  engine.SetSilent(silent);
  const std::size_t foldersBefore = TempFoldersIn(temp.folder.path()).size();
  Outcome out = Download(engine, s.codebase);
  EXPECT_EQ(s.code, out.code);
  std::string lines;
  for (const std::string& line : log.Lines()) lines += line;
  EXPECT_TRUE(log.Contains(s.logLine)) << s.logLine << " not in:\n" << lines;
  EXPECT_EQ(s.progress ? 1 : 0, out.starts);
  EXPECT_EQ(s.progress ? 1 : 0, out.ends);
  EXPECT_EQ(0, out.dialogs);
  if (s.code == 0) {
    EXPECT_TRUE(kittest::HoldsServerPattern(out.path, s.size)) << out.path;
    EXPECT_EQ(temp.folder.path() + "\\", out.path.substr(0, temp.folder.path().size() + 1));
    // The package is kept once, in its own folder: never again in the user's
    // internet cache.
    using CacheEntryInfo = BOOL(WINAPI*)(const char*, INTERNET_CACHE_ENTRY_INFOA*, DWORD*);
    const auto cached = reinterpret_cast<CacheEntryInfo>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("wininet.dll"), "GetUrlCacheEntryInfoA")));
    DWORD size = 0;
    const std::string url = s.codebase.substr(0, s.codebase.find('#'));
    ASSERT_TRUE(cached);
    EXPECT_FALSE(cached(url.c_str(), nullptr, &size) || GetLastError() != ERROR_FILE_NOT_FOUND) << url;
    if (s.progress) {
      EXPECT_EQ(static_cast<long long>(s.size / 100), out.total);
      EXPECT_NEAR(out.total, out.sum, out.pieces);
    }
  } else {
    // The first download failed: neither the file nor the folder stays.
    EXPECT_EQ("", engine.TempFolder());
    EXPECT_EQ(foldersBefore, TempFoldersIn(temp.folder.path()).size());
  }
}

const char kDefaultAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0; Norvane Networks Client)";

TEST(Transfer, DownloadsAndFailuresOverHttp) {
  ASSERT_NE("", kittest::ServerUrl("http", "")) << "the http_server fixture is not running";
  kittest::RegistrySandbox sandbox;
  kittest::MemoryLog log;
  TempRoot temp;
  auto url = [](const std::string& path) { return kittest::ServerUrl("http", path); };
  const Scenario scenarios[] = {
      {"plain", url("/bytes/123457/pkg.cab"), 0, 123457, true, "package has been downloaded, size=123457"},
      {"large", url("/bytes/31457280"), 0, 31457280, true, "package has been downloaded, size=31457280"},
      {"no length", url("/nolength/250000"), 0, 250000, false, "size=250000"},
      {"redirect", url("/redirect/54321#Version=1,0,0,1"), 0, 54321, true, "size=54321"},
      {"404", url("/status/404"), static_cast<int>(0x80190194), 0, false, "HttpSendRequest failed with HTTP 404."},
      {"500", url("/status/500"), static_cast<int>(0x801901F4), 0, false, "urlc.Connect() failed, 0"},
      {"dropped", url("/drop/400000"), 59, 0, true, "incomplete download, 200000 of 400000 bytes"},
      {"never answers", url("/hang"), 12030, 0, false, "HttpSendRequest failed (error: 120"},
      {"empty", url("/bytes/0"), -1, 0, false, "Installation package is empty"},
      {"unresolved", "http://no-such-host.invalid/pkg.cab", 12007, 0, false, "HttpSendRequest failed (error: 12007"},
      {"no file name", url("/bytes/"), 87, 0, false, "Invalid path to installation package"},
      {"empty codebase", "", 87, 0, false, "Invalid path to installation package"},
      {"too long", url("/bytes/1?" + std::string(2100, 'a')), 206, 0, false, "too long"},
      {"scheme", "gopher://127.0.0.1/pkg.cab", 12006, 0, false, "Unsupported scheme of installation package"},
      {"port beyond 65535", "http://127.0.0.1:65616/pkg.cab", 12005, 0, false, "InternetConnect failed (error: 12005"},
  };
  for (const Scenario& s : scenarios) Check(s, temp, log);

  // The server saw the request's cookie and the user agent: the default,
  // the one the registry names, the engine's own.
  const std::string key = kURLConnectSettingsKey;
  Engine engine("session-42");
  for (const char* agent : {"", "Registry Agent/1.0", "Engine Agent/2.0"}) {
    const std::string expected = *agent ? agent : kDefaultAgent;
    if (expected == "Registry Agent/1.0") kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "UserAgentString", agent);
    if (expected == "Engine Agent/2.0") engine.SetUserAgent(agent);
    Outcome out = Download(engine, url("/echo"));
    ASSERT_EQ(0, out.code);
    EXPECT_EQ("Cookie: RI_Zazirez=session-42\nUser-Agent: " + expected + "\n", kittest::ReadTextFile(out.path));
  }
}

TEST(Transfer, LocalPackagesAndBadSources) {
  kittest::MemoryLog log;
  TempRoot temp;
  kittest::TempFolder source;
  Engine engine("s");
  const std::string package = source / "pkg.cab";
  kittest::WriteTextFile(package, std::string(25000, 'k'));
  kittest::WriteTextFile(source / "empty.cab", "");
  CreateDirectoryA((source / "folder.cab").c_str(), nullptr);
  kit::UniqueFile locked(CreateFileA((source / "locked.cab").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  std::vector<std::string> paths;
  for (const std::string& codebase : {package + "#Version=1,2,3,4", "file://" + package}) {
    Outcome out = Download(engine, codebase);
    paths.push_back(out.path);
    ASSERT_EQ(0, out.code) << codebase;
    EXPECT_EQ(std::string(25000, 'k'), kittest::ReadTextFile(out.path));
    EXPECT_EQ(1, out.starts);
    EXPECT_EQ(250, out.total);
    EXPECT_EQ(3, out.pieces);
  }
  // Each download has a new folder made for it; the one before is gone.
  EXPECT_EQ(1u, TempFoldersIn(temp.folder.path()).size());
  EXPECT_NE(paths[0].substr(0, paths[0].rfind('\\')), paths[1].substr(0, paths[1].rfind('\\')));
  EXPECT_FALSE(kittest::FileExists(paths[0]));

  Engine fresh("s");
  for (const auto& [codebase, code] : {std::pair<std::string, int>{source / "folder.cab", ERROR_DIRECTORY},
                                       {source / "locked.cab", ERROR_SHARING_VIOLATION},
                                       {source / "empty.cab", -1},
                                       {source / "missing.cab", ERROR_FILE_NOT_FOUND}}) {
    log.Clear();
    EXPECT_EQ(code, Download(fresh, codebase).code) << codebase;
    EXPECT_TRUE(log.Contains("Installation package")) << codebase;
    EXPECT_EQ("", fresh.TempFolder());
  }
  EXPECT_EQ(1u, TempFoldersIn(temp.folder.path()).size());
}

TEST(Transfer, StopRequestEndsTheDownloadAfterItsPiece) {
  kittest::MemoryLog log;
  TempRoot temp;
  Engine engine("s");
  engine.m_strRequestCodebase = kittest::ServerUrl("http", "/slow/3000000/pkg.cab");
  std::atomic<int> result{-100};
  ASSERT_EQ(0, engine.InstallControl("{0}", "", "", "", [](std::int32_t r, const char*, std::uintptr_t v) {
    reinterpret_cast<std::atomic<int>*>(v)->store(r);
  }, reinterpret_cast<std::uintptr_t>(&result)));
  // Stop once the first pieces are on disk.
  for (int i = 0; i < 200; ++i, Sleep(50)) {
    auto folders = TempFoldersIn(temp.folder.path());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!folders.empty() && GetFileAttributesExA((temp.folder / folders[0] + "\\pkg.cab").c_str(),
                                                 GetFileExInfoStandard, &data) && data.nFileSizeLow > 30000)
      break;
  }
  const DWORD started = GetTickCount();
  engine.Stop(TRUE);
  EXPECT_LT(GetTickCount() - started, 2000u);
  EXPECT_EQ(1223, result.load());
  EXPECT_TRUE(log.Contains("EXCEPTION - cancelled"));
  EXPECT_TRUE(TempFoldersIn(temp.folder.path()).empty());
}

TEST(Transfer, HttpsTrustedCaAndUntrustedCertificate) {
  kittest::TrustedServerCa ca;
  ASSERT_TRUE(ca.added());
  kittest::MemoryLog log;
  TempRoot temp;
  Check({"trusted", kittest::ServerUrl("https_trusted", "/bytes/70000"), 0, 70000, true, "size=70000"}, temp, log,
        true);
  Check({"untrusted", kittest::ServerUrl("https_untrusted", "/bytes/70000"), 12045, 0, false, "Invalid certificate"},
        temp, log, true);
}

// A visible dialog of this process (the library's certificate dialog).
BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || !GetDlgItem(window, IDCANCEL)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

TEST(Transfer, CertificateDialogAcceptedAndRefused) {
  kittest::MemoryLog log;
  TempRoot temp;
  // Refused first: an accepted certificate is remembered for the server.
  for (int button : {IDCANCEL, IDOK}) {
    Engine engine("s");
    int presses = 0;
    Outcome out = Download(engine, kittest::ServerUrl("https_untrusted", "/bytes/5000"), [&] {
      HWND dialog = nullptr;
      EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&dialog));
      if (dialog && presses++ == 0) kittest::PressButton(dialog, button);
    });
    SCOPED_TRACE(button);
    EXPECT_LE(1, presses);
    EXPECT_EQ(button == IDOK ? 0 : 1223, out.code);
    // The owner heard of the dialog when it opened and when it closed.
    EXPECT_EQ(2, out.dialogs);
  }
}

TEST(Transfer, ConnectionOnFilesAndResponses) {
  kittest::MemoryLog log;
  kittest::TempFolder folder;
  const std::string file = folder / "data.bin";
  kittest::WriteTextFile(file, std::string(2500, 'x'));
  {
    URLConnectEx local;
    ASSERT_EQ(1, local.Connect(file.c_str()));
    EXPECT_EQ(4, local.Scheme());
    EXPECT_EQ(2500u, local.GetContentLength());
    char buffer[1000];
    for (int expected : {1000, 1000, 500, -1, -1}) EXPECT_EQ(expected, local.Read(buffer, 1000));
  }
  URLConnectEx nothing;
  EXPECT_EQ(0, nothing.Connect("neither a URL nor a file"));
  EXPECT_EQ(87u, nothing.LastError());
  EXPECT_TRUE(log.Contains("Invalid URL (neither a URL nor a file)"));
  char byte;
  EXPECT_EQ(-2, nothing.Read(&byte, 1));

  URLConnectEx empty;
  EXPECT_EQ(0, empty.DownloadFile(kittest::ServerUrl("http", "/bytes/0").c_str(), (folder / "empty").c_str()));
  EXPECT_EQ("", kittest::ReadTextFile(folder / "empty"));
  URLConnectEx post;
  EXPECT_EQ(1, post.Post(kittest::ServerUrl("http", "/echo").c_str(), {'a', 'b'}));
  EXPECT_EQ(-1, post.Read());
  URLConnectEx refused;
  EXPECT_EQ(-1, refused.DownloadFile(kittest::ServerUrl("http", "/status/404").c_str(), (folder / "x").c_str()));
  EXPECT_EQ(404u, refused.StatusCode());
  EXPECT_TRUE(log.Contains("Connection failed (URL: "));
}

}  // namespace

namespace {

// A whole request on an http:// codebase, with the engine's own body: the
// package is downloaded into a private folder below the user's temporary
// folder, the route loop goes on to the verification of the direct route,
// and the folder is gone when the request ends.
TEST(Transfer, ARequestOnAnHttpCodebaseDownloadsIntoAPrivateFolderAndRemovesIt) {
  const std::string url = kittest::ServerUrl("http", "/bytes/70000");
  ASSERT_FALSE(url.empty());
  TempRoot temp;
  kittest::MemoryLog log;
  static std::atomic<bool> called;
  called = false;
  {
    USmartUpdateEx engine;
    engine.SetSilent(true);
    ASSERT_EQ(engine.InstallControl("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}", (url + "#1,0,0,1").c_str(), "", "s",
                                    [](std::int32_t, const char*, std::uintptr_t) { called = true; }, 0),
              0);
    for (int i = 0; i < 600 && !called; ++i) Sleep(100);
    engine.Stop(TRUE);
  }
  EXPECT_TRUE(called);
  std::string lines;
  for (const std::string& line : log.Lines()) lines += line;
  for (const char* fragment : {"package has been downloaded, size=70000", "| LOCAL_MACHINE", "verify the package",
                               "RemoveDirectory() is done"}) {
    EXPECT_NE(std::string::npos, lines.find(fragment)) << fragment << " not in:\n" << lines;
  }
  EXPECT_NE(std::string::npos, lines.find("Norvane_TMP_")) << lines;
  EXPECT_TRUE(TempFoldersIn(temp.folder.path()).empty());
}

}  // namespace

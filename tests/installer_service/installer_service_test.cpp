// The pipe client against the suite's real pipe server (ombrixappinst.exe),
// started for each case with its temporary folder inside the test.
#include "installer_service/installer_service.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "e2e/kitloader_run.h"
#include "foundation/m_folders.h"
#include "installer_service/pipe_messages.h"
#include "support/platform_facts_support.h"
#include "support/sample_control.h"
#include "support/test_support.h"
#include "support/window_driver.h"

namespace {

std::vector<std::string> Matches(const std::string& pattern);

// The accounts the test build reports: the Installer Service's program runs
// as the system, a look-alike installer as another user of the machine.
const kittest::FactsFile g_users("[users]\r\nombrixsvc.exe=S-1-5-18\r\nombrixother.exe=S-1-5-21-1-2-3-1001\r\n"
                                 "facts_probe.exe=S-1-5-21-1-2-3-1002\r\n", "KITLOADER_TEST_USERS");

// A running server on one pipe; stopped through its named event. On the
// service's pipe it runs as ombrixsvc.exe (the system's account, for the
// clients of the test build).
class PipeServer {
 public:
  // `temp`: the server's temporary folder, when not one of its own.
  PipeServer(int pipe, const std::string& options, std::string temp = "", std::string program = "",
             const char* exe = OMBRIXAPPINST_EXE)
      : m_pipe(pipe),
        m_stopName("ombrixappinst-stop-" + std::to_string(GetCurrentProcessId())),
        m_stop(CreateEventA(nullptr, TRUE, FALSE, m_stopName.c_str())) {
    if (temp.empty()) temp = m_temp.path();
    if (program.empty()) program = pipe == 0 ? "ombrixsvc.exe" : "ombrixappinst.exe";
    // The instances of an ended server outlive it while a client end is still
    // being closed: start on a free name.
    for (int i = 0; i < 100 && (WaitNamedPipeA(pipeproto::PipeName(pipe), 1) || GetLastError() != ERROR_FILE_NOT_FOUND);
         ++i)
      Sleep(50);
    kittest::CopyFileOrFail(kittest::WindowsPathOf(exe), m_bin / program);
    m_process = kittest::StartProcess(m_bin / program + " /pipe " + std::to_string(pipe) +
                                          " /idle 60000 /stop " + m_stopName + " " + options,
                                      "", {{"TMP", temp}, {"TEMP", temp}});
    for (int i = 0; i < 200 && !WaitNamedPipeA(pipeproto::PipeName(pipe), 100); ++i) Sleep(50);
    // The first instance listens before the others exist: wait until the
    // server says it serves them all.
    const std::string log = temp + "\\logterminal.txt";
    for (int i = 0; i < 200 && kittest::ReadTextFile(log).find("serving ") == std::string::npos; ++i) Sleep(50);
  }
  ~PipeServer() {
    SetEvent(m_stop.get());
    EXPECT_EQ(0u, m_process.Wait(20000).exitCode);
  }
  std::string temp() const { return m_temp.path(); }
  // The request folders left in the temporary folder (only with /keep).
  std::vector<std::string> Folders() const { return Matches(m_temp / ("OmbrixInstaller" + std::to_string(m_pipe) + "-*")); }
  std::string Log() const { return kittest::ReadTextFile(m_temp / "logterminal.txt"); }
  const kittest::ChildProcess& process() const { return m_process; }

 private:
  int m_pipe;
  std::string m_stopName;
  kit::UniqueHandle m_stop;
  kittest::TempFolder m_temp, m_bin;
  kittest::ChildProcess m_process;
};

constexpr std::uint64_t kVersion = 0x0001000000000001ull;  // the server's own, 1.0.0.1

// The paths a wildcard pattern finds.
std::vector<std::string> Matches(const std::string& pattern) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA(pattern.c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileA(find.get(), &data))
    found.push_back(pattern.substr(0, pattern.find_last_of('\\') + 1) + data.cFileName);
  return found;
}

std::string Header(std::uint32_t magic, std::uint32_t size, std::uint32_t code) {
  unsigned char h[12];
  pipeproto::WriteWord(h, magic), pipeproto::WriteWord(h + 4, size), pipeproto::WriteWord(h + 8, code);
  return std::string(reinterpret_cast<char*>(h), sizeof h);
}

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
  return s;
}

std::string InstallHeader(const std::u16string& name, std::uint32_t size) {
  unsigned char h[pipeproto::kInstallHeaderSize];
  pipeproto::EncodeInstallHeader(name, size, h);
  return std::string(reinterpret_cast<char*>(h), sizeof h);
}

kit::UniqueFile Connect(int pipe) {
  return kit::UniqueFile(
      CreateFileA(pipeproto::PipeName(pipe), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Clients that send garbage, lie, leave, stall or send a look-alike name, one
// after the other, each followed by a version request the server must still
// answer; then one that trickles while another asks for the version, and 50
// that connect and leave. `received`: the pattern of the server's receive
// folders, none of which may remain.
void DriveHostileClients(int pipe, std::uint64_t version, const std::string& received) {
  const std::string name = std::string("a\0.\0c\0a\0b\0", 10) + std::string(510, '\0');
  // What the server answers each: a result, 0 when the client closes without
  // waiting, -1 when the server closes the connection on a waiting client.
  const struct { std::string bytes; int answer; } hostile[] = {
      {"garbage", 0},
      {Header(0x12345678, 12, 3), ERROR_INVALID_DATA},
      {Header(pipeproto::kMagic, 12, 9), ERROR_INVALID_DATA},
      {Header(pipeproto::kMagic, 40, 3), ERROR_INVALID_DATA},
      {Header(pipeproto::kMagic, 100, 2) + name, ERROR_INVALID_DATA},
      {Header(pipeproto::kMagic, 0xFFFFFFFF, 2) + name, ERROR_FILE_TOO_LARGE},
      {Header(pipeproto::kMagic, 532 + 4, 2) + std::string(520, 'x') + "abcd", ERROR_INVALID_NAME},
      {Header(pipeproto::kMagic, 532 + 4, 2) + std::string(".\0.\0\\\0a\0", 8) + std::string(512, '\0') + "abcd",
       ERROR_INVALID_NAME},                                                                   // "..\\a"
      // An installation of this user is still being received while the
      // server has not yet seen this client go: the stall after it gives the
      // server that time before the next installation of the same user.
      {Header(pipeproto::kMagic, 532 + 100000, 2) + name + Bytes(5000), ERROR_INVALID_DATA},  // size lies, waits
      {Header(pipeproto::kMagic, 532 + 100000, 2) + name + Bytes(5000), 0},                   // gone mid-stream
      {Header(pipeproto::kMagic, 16, 5) + "ab", -1},                                          // stalls inside a request
      {InstallHeader(u"\u2215x.cab", 4) + "abcd", ERROR_INVALID_NAME},  // best fit: "/x.cab" on every code page
  };
  for (const auto& c : hostile) {
    SCOPED_TRACE(c.bytes.substr(0, 12));
    {
      // The server listens again a moment after its last client's end.
      kit::UniqueFile client;
      for (int i = 0; i < 50 && !client; ++i) {
        WaitNamedPipeA(pipeproto::PipeName(pipe), 5000);
        client.reset(CreateFileA(pipeproto::PipeName(pipe), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
      }
      ASSERT_TRUE(client);
      DWORD done = 0;
      EXPECT_TRUE(WriteFile(client.get(), c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &done, nullptr));
      if (unsigned char response[20] = {}; c.answer) {
        EXPECT_EQ(c.answer > 0, ReadFile(client.get(), response, sizeof response, &done, nullptr) != FALSE);
        EXPECT_EQ(static_cast<std::uint32_t>(c.answer > 0 ? c.answer : 0), pipeproto::ReadWord(response + 12));
      }
    }
    EXPECT_EQ(version, srvGetServiceVersion(20000, pipe));
  }
  // A client trickling within the silence limit holds one instance until its deadline.
  kit::UniqueFile trickler = Connect(pipe);
  const std::string request = InstallHeader(u"t.cab", 100000);
  DWORD done = 0, waiting = 0;
  ASSERT_TRUE(WriteFile(trickler.get(), request.data(), static_cast<DWORD>(request.size()), &done, nullptr));
  EXPECT_EQ(version, srvGetServiceVersion(20000, pipe));
  for (int i = 0; i < 600 && PeekNamedPipe(trickler.get(), nullptr, 0, nullptr, &waiting, nullptr) && !waiting; ++i)
    WriteFile(trickler.get(), "x", 1, &done, nullptr), Sleep(100);
  unsigned char response[20] = {};
  EXPECT_TRUE(ReadFile(trickler.get(), response, sizeof response, &done, nullptr));
  EXPECT_EQ(std::uint32_t(ERROR_INVALID_DATA), pipeproto::ReadWord(response + 12));
  trickler.reset();
  for (int i = 0; i < 50; ++i) Connect(pipe);  // each closed at once
  EXPECT_EQ(version, srvGetServiceVersion(20000, pipe));
  kit::UniqueFile intruder(
      CreateNamedPipeA(pipeproto::PipeName(pipe), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr));
  EXPECT_FALSE(intruder);  // the name is still the server's
  EXPECT_EQ(0u, Matches(received).size());
}

TEST(PipeClient, AnswersOfTheServerReachTheCallerUnchanged) {
  const struct { int pipe; const char* options; std::uint64_t version; int install; } cases[] = {
      {0, "/version 6020.2007.727.5 /result 0", 0x178407D702D70005ull, 0}, {1, "/result 3", kVersion, 3},
      {2, "/result 2", kVersion, 2}, {0, "/result 0x10000000", kVersion, 0x10000000},
      {1, "/result 1603 /version 0.0.0.0", 0, 1603},
      {2, "/answersize 16", 0, -1},  // a malformed answer reads as no server
  };
  kittest::TempFolder folder;
  kittest::WriteTextFile(folder / "pkg.cab", Bytes(100));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    kittest::MemoryLog log;
    PipeServer server(c.pipe, c.options);
    EXPECT_EQ(c.version, srvGetServiceVersion(5000, c.pipe));
    EXPECT_EQ(c.install == -1 ? -1 : 0, srvSetUIWindow(reinterpret_cast<HWND>(0x1234), 5000, c.pipe));
    EXPECT_EQ(c.install, srvInstallControl((folder / "pkg.cab").c_str(), 0, c.pipe));
    EXPECT_EQ(c.install == -1, log.Contains("Invalid response size (16)"));
  }
}

// A server of another account than its pipe demands is no server: the
// service's pipe served by the user's process, an installer's by another user's.
TEST(PipeClient, AServerOfTheWrongAccountIsNotBelieved) {
  kittest::TempFolder folder;
  kittest::WriteTextFile(folder / "pkg.cab", Bytes(100));
  for (const auto& c : {std::pair<int, const char*>{0, "ombrixappinst.exe"}, {1, "ombrixother.exe"},
                        {2, "ombrixother.exe"}}) {
    SCOPED_TRACE(c.second);
    kittest::MemoryLog log;
    PipeServer server(c.first, "/result 0", "", c.second);
    EXPECT_EQ(0u, srvGetServiceVersion(5000, c.first));
    EXPECT_EQ(-1, srvSetUIWindow(nullptr, 5000, c.first));
    EXPECT_EQ(-1, srvInstallControl((folder / "pkg.cab").c_str(), 0, c.first));
    EXPECT_TRUE(log.Contains("the pipe's server is not the expected account"));
    EXPECT_EQ(std::string::npos, server.Log().find("install request")) << server.Log();
  }
}

TEST(PipeClient, PackagesStreamIntactAndBadPackagesNeverLeave) {
  kittest::TempFolder folder;
  PipeServer server(0, "/keep /result 0");
  for (std::size_t size : {1u, 16384u, 16385u, 3u * 16384u + 7u}) {
    const std::string name = "pkg" + std::to_string(size) + ".cab";
    const std::string bytes = Bytes(size);
    kittest::WriteTextFile(folder / name, bytes);
    EXPECT_EQ(0, srvInstallControl((folder.path() + "/" + name).c_str(), 0, 0)) << size;  // a slash too
    std::string kept;  // in one of the folders the server left (/keep)
    for (const std::string& f : server.Folders()) kept = kittest::FileExists(f + "\\" + name) ? f + "\\" + name : kept;
    EXPECT_TRUE(kittest::ReadTextFile(kept) == bytes) << size;
  }
  // Refused before anything is written: too large, empty, missing.
  kittest::MemoryLog log;
  if (kit::UniqueFile big(
          CreateFileA((folder / "big.cab").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      big) {
    LARGE_INTEGER size{};
    size.QuadPart = pipeproto::kMaxPackageSize + 1;  // sparse: one byte over the limit
    ASSERT_TRUE(SetFilePointerEx(big.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(big.get()));
  }
  kittest::WriteTextFile(folder / "empty.cab", "");
  for (const char* name : {"big.cab", "empty.cab", "missing.cab"})
    EXPECT_EQ(-1, srvInstallControl((folder / name).c_str(), 0, 0));
  EXPECT_TRUE(log.Contains("is too big (size: 209715201 bytes, limit: 209715200 bytes)"));
  EXPECT_TRUE(log.Contains("is empty"));
  const std::string serverLog = server.Log();  // only the four good requests reached the server
  std::size_t requests = 0;
  for (std::size_t at = 0; (at = serverLog.find("install request", at)) != std::string::npos; ++at) ++requests;
  EXPECT_EQ(4u, requests) << serverLog;
}

TEST(PipeClient, NoServerBusyServerAndHostileClients) {
  kittest::MemoryLog log;
  kittest::TempFolder folder;
  kittest::WriteTextFile(folder / "pkg.cab", Bytes(40000));
  const DWORD start = GetTickCount();
  EXPECT_EQ(0u, srvGetServiceVersion(INFINITE, 1));
  EXPECT_EQ(0u, srvGetServiceVersion(INFINITE, 7));
  EXPECT_EQ(-1, srvSetUIWindow(nullptr, INFINITE, 2));
  EXPECT_EQ(-1, srvInstallControl((folder / "pkg.cab").c_str(), 0, 1));
  EXPECT_LT(GetTickCount() - start, 3000u);
  EXPECT_TRUE(log.Contains("Failed to open pipe (error: 2)"));

  {
    // Four clients of one user take four instances: an installation whose
    // package trickles in and three whose headers trickle. Another user's
    // version query (the facts' second account) is still answered, and the
    // first user's fifth request, an installation, is answered busy at once.
    PipeServer server(0, "/result 7", "", "ombrixsvc.exe", OMBRIXAPPINST_TESTABLE_EXE);
    std::vector<kit::UniqueFile> tricklers;
    for (int i = 0; i < 4; ++i) {
      tricklers.push_back(Connect(0));
      const std::string bytes = i == 0 ? InstallHeader(u"t.cab", 100000) + "x" : std::string("\xBB");
      DWORD done = 0;
      EXPECT_TRUE(WriteFile(tricklers.back().get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    }
    for (int i = 0; i < 400 && server.Folders().empty(); ++i) Sleep(50);  // the installation is receiving
    EXPECT_EQ(0u, kittest::RunProcess("\"" + kittest::FactsProbePath() + "\" version 0 2000").exitCode);
    EXPECT_EQ(int(ERROR_BUSY), srvInstallControl((folder / "pkg.cab").c_str(), 0, 0));
    DWORD answered = 1;
    EXPECT_TRUE(PeekNamedPipe(tricklers[0].get(), nullptr, 0, nullptr, &answered, nullptr));
    EXPECT_EQ(0u, answered);  // the trickling installation is still receiving
    EXPECT_NE(std::string::npos, server.Log().find("busy: an installation of this user is running")) << server.Log();
  }
  PipeServer server(2, "/hold 3000 /result 7 /iotimeout 1500 /deadline 4000");

  DriveHostileClients(2, kVersion, server.temp() + "\\OmbrixInstaller2-*");
  EXPECT_FALSE(kittest::FileExists(server.temp() + "\\a.cab") || kittest::FileExists(server.temp() + "\\kit.cab"));
  const std::string serverLog = server.Log();
  EXPECT_NE(std::string::npos, serverLog.find("the client went away with ")) << serverLog;
  const std::string badName = "refused: the package name is not a plain file name";
  EXPECT_LT(serverLog.find(badName), serverLog.rfind(badName));  // both bad names
}

// A folder prepared under the old fixed name is left alone; a temporary folder
// that is gone (or, where junctions exist, one) is refused as a failure.
TEST(PipeClient, EachPackageGetsANewFolderThatGoesWithTheRequest) {
  kittest::TempFolder folder;
  kittest::WriteTextFile(folder / "pkg.cab", Bytes(100));
  const struct { std::string temp; int answer; } cases[] = {{"", 7}, {folder / "gone", ERROR_BAD_PATHNAME}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.temp);
    PipeServer server(2, "/result 7", c.temp);
    const std::string prepared = server.temp() + "\\OmbrixInstaller2";
    ASSERT_TRUE(CreateDirectoryA(prepared.c_str(), nullptr));
    kittest::WriteTextFile(prepared + "\\pkg.inf", "[Version]");
    EXPECT_EQ(c.answer, srvInstallControl((folder / "pkg.cab").c_str(), 0, 2));
    EXPECT_EQ(3u, Matches(prepared + "\\*").size());  // ".", ".." and the INF
    EXPECT_EQ(0u, Matches(prepared + "-*").size());
  }
}

// Look-alike names on the code page of the run (ctest runs this in each UI
// language's locale): stored exactly as sent, in a folder of its own, or refused.
TEST(PipeClient, LookAlikeNamesAreStoredExactlyOrRefused) {
  SCOPED_TRACE(GetACP());
  PipeServer server(2, "/keep /result 7");
  std::set<std::u16string> accepted, stored;
  DWORD received = 0;
  for (const char16_t* name : {u"\uFF4B\uFF49\uFF54.cab", u"\uFF0E\uFF0E\uFF3Cx.cab", u"\u00A5x.cab",
                               u"\u20A9x.cab", u"\u2215x.cab", u"x\uFF1Ay.cab"}) {
    std::string request = InstallHeader(name, 4) + "abcd";
    unsigned char response[20] = {};
    CallNamedPipeA(pipeproto::PipeName(2), &request[0], 536, response, sizeof response, &received, 20000);
    const std::uint32_t answer = pipeproto::ReadWord(response + 12);
    EXPECT_TRUE(answer == 7 || answer == ERROR_INVALID_NAME) << answer;
    if (answer == 7) accepted.insert(name);
  }
  for (const std::string& f : server.Folders()) {
    WIN32_FIND_DATAW data;
    kit::UniqueFind find(FindFirstFileW((std::wstring(f.begin(), f.end()) + L"\\*.cab").c_str(), &data));
    for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data))
      stored.insert(reinterpret_cast<const char16_t*>(data.cFileName));
  }
  EXPECT_TRUE(accepted == stored && accepted.size() == server.Folders().size() && accepted.size() < 6);
  EXPECT_EQ(0u, Matches(server.temp() + "\\*.cab").size());
}

// A window on a thread of its own that answers its messages, as the owner
// of another process's box.
struct OwnerWindow {
  OwnerWindow() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = std::thread([this, ready] {
      threadId = GetCurrentThreadId();
      window = CreateWindowA("STATIC", "owner", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
      SetEvent(ready);
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
      DestroyWindow(window);
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~OwnerWindow() {
    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    thread.join();
  }
  HWND window = nullptr;
  DWORD threadId = 0;
  std::thread thread;
};

// The user-mode installers install what they receive: the high-integrity
// one per machine, the medium-integrity one for the user; a package that
// fails verification is refused; a copy failure asks through a box owned by
// the window the client named.
TEST(PipeClient, UserModeInstallersInstallForRealInTheirScope) {
  const std::string machine = SGetDownloadedProgramFilesFolder().str() + "\\ombrixctl.dll";
  const std::string user = SGetUserDownloadedProgramFilesFolder(true).str() + "\\ombrixusr.dat";
  const struct { int pipe; const char* package; const char* as; std::string installed; int answer; } cases[] = {
      {1, "ombrixctl-1.0.0.1", "ombrixctl.cab", machine, 0},
      {2, "ombrix_user", "ombrix_user.cab", user, 0},
      {2, "trust_unsigned", "trust_unsigned.cab", "", int(TRUST_E_SUBJECT_NOT_TRUSTED)},
      {1, "bad_copy", "bad_copy.cab", "", -2},  // the box, answered Abort
      {1, "bad_copy", "bad_copy.cab", "", -3},  // the window named is another process's: no box
  };
  kittest::TempFolder folder;
  kittest::ForgetSampleControl();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.package);
    DeleteFileA(c.installed.c_str());
    kittest::CopyFileOrFail(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/") + c.package + ".cab"),
                            folder / c.as);
    PipeServer server(c.pipe, "");
    OwnerWindow owner;
    EXPECT_EQ(0, srvSetUIWindow(c.answer == -3 ? GetDesktopWindow() : owner.window, 5000, c.pipe));
    int answer = 0;
    std::thread client([&] { answer = srvInstallControl((folder / c.as).c_str(), 0, c.pipe); });
    if (c.answer == -2) {
      HWND box = kittest::WaitForWindow(server.process().handle(), server.process().id(),
                                        [](HWND w) { return kittest::WindowText(w) == L"Setup"; });
      EXPECT_EQ(owner.window, GetWindow(box, GW_OWNER)) << server.Log();
      // While it installs, the package is neither replaced nor removed, nor its folder renamed.
      for (const std::string& f : server.Folders()) {
        const std::string package = f + "\\" + c.as;
        EXPECT_FALSE(kit::UniqueFile(CreateFileA(package.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)));
        EXPECT_FALSE(DeleteFileA(package.c_str()) || MoveFileA(f.c_str(), (f + "x").c_str()));
      }
      EXPECT_EQ(1u, server.Folders().size());
      kittest::PressButton(box, IDABORT);
    }
    client.join();
    EXPECT_EQ(0u, server.Folders().size());
    EXPECT_TRUE(c.answer < 0 ? answer != 0 : answer == c.answer) << answer << server.Log();
    // The window served that installation only: the next one asks nobody.
    if (c.answer == -2) {
      EXPECT_NE(0, srvInstallControl((folder / c.as).c_str(), 0, c.pipe));
    }
    EXPECT_TRUE(c.installed.empty() || kittest::FileExists(c.installed)) << server.Log();
    DeleteFileA(c.installed.c_str());
  }
  kittest::ForgetSampleControl();
}

// A standard user's run of the test build hands the package to the Installer
// Service, and the service's answer decides the run.
TEST(PipeClient, AStandardUsersRunInstallsThroughTheService) {
  const struct { const char* options; DWORD exitCode; const char* logged; } cases[] = {
      {"/result 0", 0, "Installation through service succeeded"},
      {"/result 3", 0, "The computer need be rebooted to complete the installation"},
      // The routes after the service's have their say: the run fails.
      {"/result 1603", DWORD(-1), "failed to install through service\r\n"},
  };
  kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    PipeServer server(0, c.options);
    kittest::KitloaderStage stage(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE), "kl_pipe.exe");
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "package bytes");
    stage.WriteSetupInf(
        "[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID={"
        "11111111-2222-3333-4444-555555555555}\r\n");
    const kittest::ProcessResult run = stage.Run("/s");
    const std::string log = stage.Log();
    EXPECT_TRUE(c.exitCode == DWORD(-1) ? run.exitCode != 0 : run.exitCode == c.exitCode) << log;
    EXPECT_NE(std::string::npos, log.find("Vista MI service allow-per-user| SERVICE\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    EXPECT_NE(std::string::npos, server.Log().find("received 13 bytes"));
  }
}

}  // namespace

// The Installer Service installed into the prefix's service control manager
// from a folder of the test, started, and at the end stopped and deleted.
class InstalledService {
 public:
  static constexpr const char* kName = "Norvane Networks Component Installer";
  explicit InstalledService(const std::string& options)
      : m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), CloseServiceHandle) {
    RemoveLeftOver();
    kittest::CopyFileOrFail(kittest::WindowsPathOf(OMBRIXSVC_EXE), program());
    const std::string command = "\"" + program() + "\" /temp \"" + m_temp.path() + "\" /iotimeout 1500 " + options;
    m_service = kit::UniqueWithCloser<SC_HANDLE>(
        CreateServiceA(m_manager.get(), kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr,
                       nullptr),
        CloseServiceHandle);
    EXPECT_TRUE(m_service && StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    for (int i = 0; i < 100 && !srvGetServiceVersion(500, 0); ++i) Sleep(100);
  }
  ~InstalledService() {
    SERVICE_STATUS status{};
    ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 200 && State() != SERVICE_STOPPED; ++i) Sleep(50);
    EXPECT_EQ(DWORD(SERVICE_STOPPED), State());
    EXPECT_TRUE(DeleteService(m_service.get()));
    m_service.reset();
    // The process lets go of its program a moment after it reported stopped.
    for (int i = 0; i < 100 && !DeleteFileA(program().c_str()); ++i) Sleep(50);
  }
  DWORD State() const {
    SERVICE_STATUS status{};
    return QueryServiceStatus(m_service.get(), &status) ? status.dwCurrentState : 0;
  }
  // A service of the name that an interrupted test left behind.
  void RemoveLeftOver() {
    kit::UniqueWithCloser<SC_HANDLE> old(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS), CloseServiceHandle);
    if (!old) return;
    SERVICE_STATUS status{};
    ControlService(old.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 200 && QueryServiceStatus(old.get(), &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
      Sleep(50);
    DeleteService(old.get());
  }
  std::string program() const { return m_folder / "ombrixsvc.exe"; }
  std::string folder() const { return m_folder.path(); }
  std::string Log() const { return kittest::ReadTextFile(m_temp / "logterminal.txt"); }

 private:
  kittest::TempFolder m_folder, m_temp;
  kit::UniqueWithCloser<SC_HANDLE> m_manager;
  kit::UniqueWithCloser<SC_HANDLE> m_service;
};

constexpr std::uint64_t kServiceVersion = 0x177A07D703E80000ull;  // 6010.2007.1000.0
constexpr std::uint64_t kUpdatedVersion = 0x177A07D703E90000ull;  // 6010.2007.1001.0

TEST(InstallerService, ServesOneClientAtATimeAndSurvivesHostileClients) {
  InstalledService service("/result 0 /deadline 4000");
  EXPECT_EQ(DWORD(SERVICE_RUNNING), service.State());
  EXPECT_EQ(kServiceVersion, srvGetServiceVersion(5000, 0));
  // Nobody else serves under its name while it runs.
  kit::UniqueFile second(
      CreateNamedPipeA(pipeproto::PipeName(0), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr));
  EXPECT_FALSE(second);
  DriveHostileClients(0, kServiceVersion, service.folder() + "\\Received-*");
  EXPECT_NE(std::string::npos, service.Log().find("the client went away with ")) << service.Log();
}

// A standard user's run of the test build: the service installs the sample
// control per machine, forwards a restart request, replaces itself with its
// update and comes back with the higher version, and refuses an update that
// is not signed by one of its own certificates.
TEST(InstallerService, AStandardUsersRunInstallsThroughTheRealService) {
  const std::string control = SGetDownloadedProgramFilesFolder().str() + "\\ombrixctl.dll";
  const char kControl[] = "CLSID={5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\r\nFileVersion=1,0,0,1\r\n";
  const char kUpdate[] = "CLSID=Service:Norvane Networks Component Installer\r\nFileVersion=6010,2007,1001,0\r\n";
  // Options of the service, the package (under build/packages), its section
  // of setup.inf, what the run logs, the service's version afterwards.
  const struct { const char* options; const char* package; const char* section; const char* logged;
                 std::uint64_t versionAfter; } cases[] = {
      {"", "ombrixctl-1.0.0.1", kControl, "control installed successfully using installer service\r\n",
       kServiceVersion},
      {"/result 3", "ombrixctl-1.0.0.1", kControl, "reboot required", kServiceVersion},
      {"", "NorvaneISUpdate-6010.2007.1001.0", kUpdate, "Service updated itself successfully", kUpdatedVersion},
      {"", "NorvaneISUpdate-othersigner", kUpdate, "Service failed to update itself", kServiceVersion},
  };
  kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.package);
    kittest::ForgetSampleControl();
    InstalledService service(c.options);
    kittest::KitloaderStage stage(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE), "kl_service.exe");
    // The update under the fixed name an older service expects.
    const std::string name = c.section == kUpdate ? "NorvaneISUpdate.cab" : "ombrixctl.cab";
    kittest::CopyFileOrFail(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/") + c.package + ".cab"),
                            stage.folder() + "\\" + name);
    stage.WriteSetupInf("[CabFiles]\r\n" + name + "=1\r\n[" + name + "]\r\n" + c.section);
    const kittest::ProcessResult run = stage.Run("/s");
    const std::string log = stage.Log();
    // An installed component whose update failed still works: the run reports 0.
    EXPECT_EQ(0u, run.exitCode) << log << service.Log();
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    EXPECT_NE(std::string::npos, log.find("| SERVICE\r\n")) << log;
    EXPECT_EQ(c.versionAfter, srvGetServiceVersion(20000, 0));
    EXPECT_EQ(c.versionAfter == kUpdatedVersion ? "6010.2007.1001.0" : "6010.2007.1000.0",
              kittest::FileVersionOf(service.program()));
    EXPECT_EQ(c.options[0] == '\0' && c.section == kControl, kittest::FileVersionOf(control) == "1.0.0.1");
  }
  kittest::ForgetSampleControl();
}

// An update that is not newer than the service it would replace is refused,
// and the program stays as it was.
TEST(InstallerService, RefusesAnUpdateThatIsNotNewer) {
  InstalledService service("/version 6010.2007.1001.0");
  kittest::TempFolder folder;
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/NorvaneISUpdate-6010.2007.1001.0.cab"),
                          folder / "NorvaneISUpdate.cab");
  EXPECT_EQ(1638, srvInstallControl((folder / "NorvaneISUpdate.cab").c_str(), 0, 0)) << service.Log();
  EXPECT_EQ("6010.2007.1000.0", kittest::FileVersionOf(service.program()));
  EXPECT_EQ(kUpdatedVersion, srvGetServiceVersion(20000, 0));
  EXPECT_EQ(0u, Matches(service.folder() + "\\Received-*").size());
}

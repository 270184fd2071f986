// The pipe client against the suite's real pipe server (ombrixappinst.exe),
// started for each case with its temporary folder inside the test.
#include "installer_service/installer_service.h"

#include <gtest/gtest.h>

#include <thread>

#include "e2e/kitloader_run.h"
#include "installer_service/pipe_messages.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

// A running server on one pipe; stopped through its named event.
class PipeServer {
 public:
  PipeServer(int pipe, const std::string& options)
      : m_pipe(pipe),
        m_stopName("ombrixappinst-stop-" + std::to_string(GetCurrentProcessId())),
        m_stop(CreateEventA(nullptr, TRUE, FALSE, m_stopName.c_str())) {
    m_process = kittest::StartProcess(kittest::WindowsPathOf(OMBRIXAPPINST_EXE) + " /pipe " + std::to_string(pipe) +
                                          " /idle 60000 /stop " + m_stopName + " " + options,
                                      "", {{"TMP", m_temp.path()}, {"TEMP", m_temp.path()}});
    for (int i = 0; i < 200 && !WaitNamedPipeA(pipeproto::PipeName(pipe), 100); ++i) Sleep(50);
  }
  ~PipeServer() {
    SetEvent(m_stop.get());
    EXPECT_EQ(0u, m_process.Wait(20000).exitCode);
  }
  std::string folder() const { return m_temp / ("OmbrixInstaller" + std::to_string(m_pipe)); }
  std::string Log() const { return kittest::ReadTextFile(m_temp / "logterminal.txt"); }

 private:
  int m_pipe;
  std::string m_stopName;
  kit::UniqueHandle m_stop;
  kittest::TempFolder m_temp;
  kittest::ChildProcess m_process;
};

constexpr std::uint64_t kVersion = 0x0001000000000001ull;  // the server's own, 1.0.0.1

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

TEST(PipeClient, AnswersOfTheServerReachTheCallerUnchanged) {
  const struct { int pipe; const char* options; std::uint64_t version; int install; } cases[] = {
      {0, "/version 6020.2007.727.5", 0x178407D702D70005ull, 0}, {1, "/result 3", kVersion, 3},
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

TEST(PipeClient, PackagesStreamIntactAndBadPackagesNeverLeave) {
  kittest::TempFolder folder;
  PipeServer server(0, "/keep");
  for (std::size_t size : {1u, 16384u, 16385u, 3u * 16384u + 7u}) {
    const std::string name = "pkg" + std::to_string(size) + ".cab";
    const std::string bytes = Bytes(size);
    kittest::WriteTextFile(folder / name, bytes);
    EXPECT_EQ(0, srvInstallControl((folder.path() + "/" + name).c_str(), 0, 0)) << size;  // a slash too
    EXPECT_TRUE(kittest::ReadTextFile(server.folder() + "\\" + name) == bytes) << size;
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

  PipeServer server(2, "/hold 3000 /result 7 /iotimeout 1500");
  int first = 0;
  std::thread holder([&] { first = srvInstallControl((folder / "pkg.cab").c_str(), 0, 2); });
  Sleep(1000);
  EXPECT_EQ(0u, srvGetServiceVersion(500, 2));  // busy beyond the time-out: no server
  EXPECT_EQ(7, srvInstallControl((folder / "pkg.cab").c_str(), 0, 2));
  holder.join();
  EXPECT_EQ(7, first);
  EXPECT_TRUE(log.Contains("Pipe is busy. Wait for 30 seconds"));

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
      {Header(pipeproto::kMagic, 532 + 100000, 2) + name + Bytes(5000), 0},                   // gone mid-stream
      {Header(pipeproto::kMagic, 532 + 100000, 2) + name + Bytes(5000), ERROR_INVALID_DATA},  // size lies, waits
      {Header(pipeproto::kMagic, 16, 5) + "ab", -1},                                          // stalls inside a request
  };
  for (const auto& c : hostile) {
    SCOPED_TRACE(c.bytes.substr(0, 12));
    {
      // The server listens again a moment after its last client's end.
      kit::UniqueFile pipe;
      for (int i = 0; i < 50 && !pipe; ++i) {
        WaitNamedPipeA(pipeproto::PipeName(2), 5000);
        pipe.reset(
            CreateFileA(pipeproto::PipeName(2), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      }
      ASSERT_TRUE(pipe);
      DWORD done = 0;
      EXPECT_TRUE(WriteFile(pipe.get(), c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &done, nullptr));
      if (unsigned char response[20] = {}; c.answer) {
        EXPECT_EQ(c.answer > 0, ReadFile(pipe.get(), response, sizeof response, &done, nullptr) != FALSE);
        EXPECT_EQ(static_cast<std::uint32_t>(c.answer > 0 ? c.answer : 0), pipeproto::ReadWord(response + 12));
      }
    }
    EXPECT_EQ(kVersion, srvGetServiceVersion(20000, 2));
  }
  EXPECT_FALSE(kittest::FileExists(server.folder() + "\\a.cab"));
  const std::string serverLog = server.Log();
  EXPECT_NE(std::string::npos, serverLog.find("the client went away with ")) << serverLog;
  const std::string badName = "refused: the package name is not a plain file name";
  EXPECT_LT(serverLog.find(badName), serverLog.rfind(badName));  // both bad names
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
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID={11111111-2222-3333-4444-555555555555}\r\n");
    const kittest::ProcessResult run = stage.Run("/s");
    const std::string log = stage.Log();
    EXPECT_TRUE(c.exitCode == DWORD(-1) ? run.exitCode != 0 : run.exitCode == c.exitCode) << log;
    EXPECT_NE(std::string::npos, log.find("Vista MI service allow-per-user| SERVICE\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    EXPECT_NE(std::string::npos, server.Log().find("received 13 bytes"));
  }
}

}  // namespace

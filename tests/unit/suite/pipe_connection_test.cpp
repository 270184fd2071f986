// One client connection of the installer pipe servers, through a real pipe of
// this process, and the per-user slots.
#include "installer_server/pipe_connection.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/handles.h"
#include "installer_server/pipe_server.h"
#include "installer_server/pipe_user_slots.h"

namespace {

// A server instance with a message-mode client connected to it.
struct ConnectedPipe {
  static std::string Name() { return "\\\\.\\pipe\\kittest-connection-" + std::to_string(GetCurrentProcessId()); }
  ConnectedPipe() {
    client.reset(CreateFileA(Name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(client && SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr)) << GetLastError();
    OVERLAPPED ov{};
    ov.hEvent = ioEvent.get();
    EXPECT_FALSE(ConnectNamedPipe(server.get(), &ov));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_CONNECTED), GetLastError());
  }
  void Send(const std::string& message) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr));
  }
  // Whether a read of `size` bytes succeeds, and how long it took.
  bool TimedRead(DWORD size, DWORD* elapsedMs) {
    std::string data(size, '\0');
    const DWORD start = GetTickCount();
    const bool read = connection.Read(&data[0], size);
    *elapsedMs = GetTickCount() - start;
    return read;
  }
  kit::UniqueFile server{ombrix::PipeServer::CreatePipe(Name().c_str(), "", true)};
  kit::UniqueFile client;
  kit::UniqueHandle ioEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  kit::UniqueHandle quit{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ombrix::PipeConnection connection{server.get(), ioEvent.get(), quit.get(), 5000};
};

TEST(PipeConnection, ReadsAcrossMessagesWritesAndEndsAtEachLimit) {
  ConnectedPipe pipe;
  pipe.connection.SetDeadline(10000);
  pipe.Send("abcdef");
  pipe.Send("ghijkl");
  char data[12];
  ASSERT_TRUE(pipe.connection.Read(data, sizeof data));
  EXPECT_EQ("abcdefghijkl", std::string(data, sizeof data));
  ASSERT_TRUE(pipe.connection.Write("answer", 6));
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(pipe.client.get(), data, sizeof data, &got, nullptr));
  EXPECT_EQ("answer", std::string(data, got));

  DWORD elapsed = 0;
  pipe.connection.SetDeadline(300);  // a header that does not come in time
  EXPECT_FALSE(pipe.TimedRead(4, &elapsed));
  EXPECT_GE(elapsed, 250u);
  EXPECT_LT(elapsed, 2000u);

  // A package trickling below the minimum rate: 100 bytes are due after
  // 200 + 24 ms.
  pipe.connection.SetDeadline(10000);
  pipe.connection.SetMinimumRate(4096, 200);
  pipe.Send(std::string(100, 'p'));
  EXPECT_FALSE(pipe.TimedRead(8192, &elapsed));
  EXPECT_LT(elapsed, 2000u);
  pipe.connection.SetMinimumRate(0, 0);

  SetEvent(pipe.quit.get());  // the server stops
  EXPECT_FALSE(pipe.TimedRead(4, &elapsed));
  EXPECT_LT(elapsed, 1000u);
  ResetEvent(pipe.quit.get());
  pipe.client.reset();  // the client has gone
  EXPECT_EQ(0u, pipe.connection.ReadSome(data, sizeof data));
}

TEST(UserSlots, OneInstallationAndOneQueryPerUserAtATime) {
  ombrix::UserSlots slots;
  {
    ombrix::UserSlot install(slots, "S-1-5-21-1", true);
    ombrix::UserSlot query(slots, "S-1-5-21-1", false);
    ombrix::UserSlot secondInstall(slots, "S-1-5-21-1", true);
    ombrix::UserSlot otherUser(slots, "S-1-5-21-2", true);
    ombrix::UserSlot unknown(slots, "", true);
    ombrix::UserSlot otherUnknown(slots, "", true);
    EXPECT_TRUE(install.taken() && query.taken() && otherUser.taken() && unknown.taken());
    EXPECT_FALSE(secondInstall.taken());
    EXPECT_FALSE(otherUnknown.taken());
  }
  EXPECT_TRUE(ombrix::UserSlot(slots, "S-1-5-21-1", true).taken());  // given back at the end of the scope
}

}  // namespace

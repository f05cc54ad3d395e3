// The Linux socket and thread adapters: the platform facts the server depends on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>

#include "fakes/Eventually.h"
#include "net/Socket.h"
#include "net/Thread.h"
#include "net/linux/OpenFileLimit.h"
#include "support/TestClient.h"

namespace {

// A listening socket on an ephemeral port.
Socket Listener() {
  SocketHandle listener = kInvalidSocket;
  EXPECT_EQ(OpenListener(nullptr, 0, &listener), ListenResult::Listening);
  return Socket(listener);
}

struct AcceptCall {
  SocketHandle listener;
  std::atomic<int> result{-1};
  static void Run(void* self) {
    auto* call = static_cast<AcceptCall*>(self);
    SocketHandle accepted = kInvalidSocket;
    call->result = static_cast<int>(AcceptClient(call->listener, &accepted));
    CloseSocket(accepted);
  }
};

TEST(LinuxSocket, ShuttingAListenerDownWakesABlockedAccept) {
  Socket listener = Listener();
  AcceptCall call{listener.Get()};
  Thread thread;
  ASSERT_TRUE(thread.Start(&AcceptCall::Run, &call, 64 * 1024));
  ShutdownBoth(listener.Get());
  thread.Join();
  EXPECT_EQ(call.result.load(), static_cast<int>(AcceptResult::Closed));
}

TEST(LinuxSocket, AcceptOnASocketThatNeverListenedIsClosed) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  SocketHandle accepted = kInvalidSocket;
  EXPECT_EQ(AcceptClient(socket.Get(), &accepted), AcceptResult::Closed);
}

struct ReceiveCall {
  SocketHandle socket;
  std::atomic<int> result{-2};
  static void Run(void* self) {
    auto* call = static_cast<ReceiveCall*>(self);
    uint8_t byte = 0;
    call->result = ReceiveByte(call->socket, &byte);
  }
};

TEST(LinuxSocket, ShuttingAConnectionDownWakesABlockedReceive) {
  Socket listener = Listener();
  TestClient client(LocalPort(listener.Get()));
  SocketHandle accepted = kInvalidSocket;
  ASSERT_EQ(AcceptClient(listener.Get(), &accepted), AcceptResult::Accepted);
  Socket connection(accepted);
  ReceiveCall call{connection.Get()};
  Thread thread;
  ASSERT_TRUE(thread.Start(&ReceiveCall::Run, &call, 64 * 1024));
  ShutdownBoth(connection.Get());
  thread.Join();
  EXPECT_EQ(call.result.load(), 0);
  EXPECT_TRUE(client.WaitForEnd());
}

TEST(LinuxSocket, SendingNeverBlocksNorRaisesASignal) {
  Socket listener = Listener();
  TestClient client;
  ASSERT_TRUE(client.Connect(LocalPort(listener.Get()), {.receiveBuffer = 1024}));
  SocketHandle accepted = kInvalidSocket;
  ASSERT_EQ(AcceptClient(listener.Get(), &accepted), AcceptResult::Accepted);
  Socket connection(accepted);
  SetNoDelay(connection.Get());

  const uint8_t bytes[4096] = {};
  int sent = 0;
  do {
    sent = SendNow(connection.Get(), bytes, sizeof bytes);
  } while (sent > 0);
  EXPECT_EQ(sent, 0) << "a full buffer takes nothing, at once";

  client.Close();  // the peer goes away with data unread: it resets
  ASSERT_TRUE(Eventually([&] { return SendNow(connection.Get(), bytes, 1) < 0; }))
      << "a vanished peer is an error, not a SIGPIPE";
}

TEST(LinuxSocket, ABusyPortCannotBeBound) {
  Socket first = Listener();
  SocketHandle second = kInvalidSocket;
  EXPECT_EQ(OpenListener(nullptr, LocalPort(first.Get()), &second), ListenResult::InUse);
  EXPECT_EQ(second, kInvalidSocket);
}

TEST(LinuxSocket, TheSocketWrapperClosesOnceAndGivesUpOnRelease) {
  Socket socket = Listener();
  const SocketHandle handle = socket.Get();
  Socket moved(std::move(socket));
  EXPECT_FALSE(socket.Valid());
  EXPECT_EQ(moved.Get(), handle);
  const SocketHandle released = moved.Release();
  EXPECT_FALSE(moved.Valid());
  EXPECT_EQ(fcntl(static_cast<int>(released), F_GETFD), FD_CLOEXEC) << "still open";
  CloseSocket(released);
}

struct StackProbe {
  size_t stackSize = 0;
  static void Run(void* self) {
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstacksize(&attributes, &static_cast<StackProbe*>(self)->stackSize);
    pthread_attr_destroy(&attributes);
  }
};

TEST(LinuxThread, RunsWithTheRequestedSmallStackAndJoins) {
  StackProbe probe;
  {
    Thread thread;
    ASSERT_TRUE(thread.Start(&StackProbe::Run, &probe, 128 * 1024));
    EXPECT_FALSE(thread.Start(&StackProbe::Run, &probe, 0)) << "one thread per object";
    thread.Join();
    EXPECT_FALSE(thread.Joinable());
    thread.Join();  // harmless
  }
  EXPECT_GE(probe.stackSize, 128u * 1024);
  EXPECT_LE(probe.stackSize, 8u * 128 * 1024) << "not the 8 MiB default";
}

TEST(LinuxOpenFileLimit, RaisesTheSoftLimitToTheHardOne) {
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  if (original.rlim_max < 512) GTEST_SKIP() << "hard limit too low to lower the soft one";
  rlimit lowered = original;
  lowered.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  EXPECT_TRUE(RaiseOpenFileLimit());
  rlimit now{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  EXPECT_EQ(now.rlim_cur, original.rlim_max);
  setrlimit(RLIMIT_NOFILE, &original);
}

}  // namespace

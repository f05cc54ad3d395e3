// The Winsock adapter against the contract of net/Socket.h: blocking accept and receive that a
// shutdown from another thread wakes, and sends that never block.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fakes/Eventually.h"
#include "net/Networking.h"
#include "net/Socket.h"
#include "net/Thread.h"
#include "net/win32/WinsockAccept.h"
#include "support/TestClient.h"

namespace {

using namespace std::chrono_literals;

class WinsockSocket : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartNetworking(), NetStartResult::Ok);
    SocketHandle listener = kInvalidSocket;
    ASSERT_EQ(OpenListener(nullptr, 0, &listener), ListenResult::Listening);
    listener_.Reset(listener);
    port_ = LocalPort(listener_.Get());
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    listener_.Reset();
    StopNetworking();
  }
  Socket AcceptOne() {
    SocketHandle accepted = kInvalidSocket;
    EXPECT_EQ(AcceptClient(listener_.Get(), &accepted), AcceptResult::Accepted);
    return Socket(accepted);
  }

  Socket listener_;
  uint16_t port_ = 0;
};

// Runs `body` on a Thread of the adapter and reports when it has finished.
struct Background {
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  std::function<void()> body;
  Thread thread;
  explicit Background(std::function<void()> f) : body(std::move(f)) {
    thread.Start(
        [](void* self) {
          auto* b = static_cast<Background*>(self);
          b->started = true;
          b->body();
          b->done = true;
        },
        this, 64 * 1024);
  }
  bool WaitDone() {
    return Eventually([&] { return done.load(); });
  }
  bool WaitStarted() {
    return Eventually([&] { return started.load(); });
  }
};

}  // namespace

TEST_F(WinsockSocket, GreetsAndReadsBytesUntilThePeerCloses) {
  TestClient client(port_);
  ASSERT_TRUE(client.Connected());
  Socket connection = AcceptOne();
  const uint8_t greeting[] = {0x19, 0xC8, 0xDE, 0x00};
  EXPECT_EQ(SendNow(connection.Get(), greeting, sizeof greeting), 4);
  EXPECT_EQ(client.Read(4), std::vector<uint8_t>(greeting, greeting + 4));

  client.Send(0x32);
  client.Send(0xFF);
  uint8_t byte = 0;
  EXPECT_EQ(ReceiveByte(connection.Get(), &byte), 1);
  EXPECT_EQ(byte, 0x32);
  EXPECT_EQ(ReceiveByte(connection.Get(), &byte), 1);
  EXPECT_EQ(byte, 0xFF);
  client.Close();
  EXPECT_EQ(ReceiveByte(connection.Get(), &byte), 0);
}

TEST_F(WinsockSocket, ShutdownWakesABlockedAccept) {
  AcceptResult result = AcceptResult::Accepted;
  Background accepting([&] {
    SocketHandle accepted = kInvalidSocket;
    result = AcceptClient(listener_.Get(), &accepted);
  });
  // Whether it blocks before the shutdown or after, the call must end as closed.
  ASSERT_TRUE(accepting.WaitStarted());
  EXPECT_FALSE(accepting.done);
  ShutdownBoth(listener_.Get());
  ASSERT_TRUE(accepting.WaitDone());
  accepting.thread.Join();
  EXPECT_EQ(result, AcceptResult::Closed);
  // And it stays closed for later calls.
  SocketHandle accepted = kInvalidSocket;
  EXPECT_EQ(AcceptClient(listener_.Get(), &accepted), AcceptResult::Closed);
}

TEST_F(WinsockSocket, ShutdownWakesABlockedReceiveAndOneNotYetStarted) {
  TestClient client(port_);
  TestClient second(port_);
  Socket connection = AcceptOne();
  Socket other = AcceptOne();

  int result = 99;
  Background reading([&] {
    uint8_t byte;
    result = ReceiveByte(connection.Get(), &byte);
  });
  ASSERT_TRUE(reading.WaitStarted());
  EXPECT_FALSE(reading.done);
  ShutdownBoth(connection.Get());
  ASSERT_TRUE(reading.WaitDone());
  reading.thread.Join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(client.Read(1).empty()) << "the peer sees the end of the stream";

  // Shut down before anyone waited on it: the first receive ends at once.
  ShutdownBoth(other.Get());
  uint8_t byte;
  EXPECT_EQ(ReceiveByte(other.Get(), &byte), 0);
}

TEST_F(WinsockSocket, AcceptedSocketsDoNotWakeTheListenerWait) {
  // Two clients in a row: the first accepted socket's own traffic must not be mistaken for a
  // new client on the listener, and each accept returns a distinct working connection.
  TestClient a(port_);
  Socket first = AcceptOne();
  a.Send(1);
  uint8_t byte = 0;
  ASSERT_EQ(ReceiveByte(first.Get(), &byte), 1);
  EXPECT_EQ(byte, 1);
  TestClient b(port_);
  Socket second = AcceptOne();
  b.Send(2);
  ASSERT_EQ(ReceiveByte(second.Get(), &byte), 1);
  EXPECT_EQ(byte, 2);
}

TEST_F(WinsockSocket, SendNeverBlocksOnAPeerThatDoesNotRead) {
  TestClient client(port_);
  Socket connection = AcceptOne();
  std::vector<uint8_t> chunk(64 * 1024, 0x32);
  // Fill the send buffer and the peer's receive window; a blocking send would hang here.
  int last = 0;
  for (int i = 0; i < 4096; ++i) {
    last = SendNow(connection.Get(), chunk.data(), chunk.size());
    if (last < static_cast<int>(chunk.size())) break;
  }
  EXPECT_GE(last, 0);
  EXPECT_LT(last, static_cast<int>(chunk.size())) << "the buffers never filled";
  EXPECT_EQ(SendNow(connection.Get(), chunk.data(), 1), 0) << "full buffer: nothing taken";
}

TEST_F(WinsockSocket, SendToAResetPeerFails) {
  TestClient client(port_);
  Socket connection = AcceptOne();
  client.Reset();
  const uint8_t state = 0x32;
  // The reset reaches us asynchronously.
  EXPECT_TRUE(Eventually([&] { return SendNow(connection.Get(), &state, 1) == -1; }));
}

TEST_F(WinsockSocket, ListenerOptionsAndBindFailures) {
  SetListenerOptions(listener_.Get());  // must not disturb the listener
  TestClient client(port_);
  Socket connection = AcceptOne();
  EXPECT_TRUE(connection.Valid());

  SocketHandle taken = kInvalidSocket;
  EXPECT_EQ(OpenListener(nullptr, port_, &taken), ListenResult::InUse);
  EXPECT_EQ(taken, kInvalidSocket);
  // An unbound, non-listening socket: accept gives up at once instead of waiting.
  Socket unbound(static_cast<SocketHandle>(::socket(AF_INET, SOCK_STREAM, 0)));
  EXPECT_EQ(LocalPort(unbound.Get()), 0);
  SocketHandle accepted = kInvalidSocket;
  EXPECT_EQ(AcceptClient(unbound.Get(), &accepted), AcceptResult::Closed);
}

namespace {

// Winsock's accept failing once with a chosen error, then accepting for real.
struct FailingOnce {
  static inline int error = 0;
  static inline bool failed = false;
  static SOCKET WSAAPI Accept(SOCKET listener, sockaddr* address, int* length) {
    if (!failed) {
      failed = true;
      WSASetLastError(error);
      return INVALID_SOCKET;
    }
    return ::accept(listener, address, length);
  }
};

}  // namespace

// The server stops accepting only when its listening socket ends: a failure of the network or of
// the system's resources, or one client's, is retried (after a pause where waiting can help).
TEST_F(WinsockSocket, AcceptFailuresOtherThanTheListenersEndAreRetried) {
  const struct {
    int error;
    AcceptResult expected;
  } cases[] = {{WSAENETDOWN, AcceptResult::Exhausted},
               {WSAEMFILE, AcceptResult::Exhausted},
               {WSAENOBUFS, AcceptResult::Exhausted},
               {WSAEINTR, AcceptResult::Transient},
               {WSAECONNRESET, AcceptResult::Transient}};
  for (const auto& c : cases) {
    FailingOnce::error = c.error;
    FailingOnce::failed = false;
    TestClient client(port_);
    SocketHandle accepted = kInvalidSocket;
    EXPECT_EQ(AcceptClientWith(listener_.Get(), &accepted, &FailingOnce::Accept), c.expected)
        << "error " << c.error;
    EXPECT_EQ(AcceptClientWith(listener_.Get(), &accepted, &FailingOnce::Accept),
              AcceptResult::Accepted)
        << "after error " << c.error;
    CloseSocket(accepted);
  }
}

TEST_F(WinsockSocket, ADeadPeerTimeoutTurnsKeepAliveProbesOn) {
  TestClient client(port_);
  Socket connection = AcceptOne();
  SetDeadPeerTimeout(connection.Get(), 60000);
  BOOL on = FALSE;
  int length = sizeof on;
  ASSERT_EQ(getsockopt(static_cast<SOCKET>(connection.Get()), SOL_SOCKET, SO_KEEPALIVE,
                       reinterpret_cast<char*>(&on), &length),
            0);
  EXPECT_TRUE(on);
}

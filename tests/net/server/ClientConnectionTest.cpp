#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fakes/FakeClock.h"
#include "fakes/RecordingClientListener.h"
#include "net/Protocol.h"
#include "net/server/ClientConnection.h"

namespace {

// A connection over a local socket pair: the test plays the client on `peer`.
class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    peer = fds[1];
    serverSide = fds[0];
    connection = std::make_unique<ClientConnection>(fds[0], clock);
  }
  void TearDown() override {
    if (connection && connection->readerThread.Joinable()) {
      // The end of the client's stream ends the reader.
      if (peer >= 0) close(peer);
      peer = -1;
      connection->readerThread.Join();
    }
    connection.reset();
    if (peer >= 0) close(peer);
    peer = -1;
  }

  // `log` (optional) records the server's part: "server:ended" when the reader calls `ended`.
  void StartReader(IClientListener* listener, std::vector<std::string>* log = nullptr) {
    connection->listener = listener;
    if (log != nullptr) {
      connection->ended = [log, this](ClientConnection* ended) {
        EXPECT_EQ(ended, connection.get());
        EXPECT_TRUE(ended->socket.Valid()) << "the socket is still open for the server";
        log->push_back("server:ended");
      };
    }
    ASSERT_TRUE(connection->readerThread.Start(&ReadLoop, connection.get(), kReaderStackSize));
  }
  // The server's way of ending a connection; returns once the reader has ended.
  void StopReader() {
    ShutdownBoth(serverSide);  // the reader, still blocked in its receive, owns the handle
    connection->readerThread.Join();
  }
  void ClientSends(std::vector<uint8_t> bytes) {
    ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Bytes the server sent so far, without waiting.
  std::vector<uint8_t> Received() {
    std::vector<uint8_t> bytes(64);
    const ssize_t n = recv(peer, bytes.data(), bytes.size(), MSG_DONTWAIT);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }
  // The client asks for `byte`; returns once the reader has passed it on.
  void ClientRequests(uint8_t byte, RecordingClientListener& listener) {
    const size_t before = listener.Events().size();
    ClientSends({byte});
    ASSERT_TRUE(listener.WaitForEvents(before + 1)) << "the request never reached the listener";
  }
  // The listener's events by name, in order.
  static std::vector<std::string> Names(RecordingClientListener& listener) {
    std::vector<std::string> names;
    for (const auto& event : listener.Events()) names.push_back(event.name);
    return names;
  }
  VolumeState Muted(int volume) { return VolumeState{1, volume}; }
  VolumeState Unmuted(int volume) { return VolumeState{0, volume}; }

  FakeClock clock{100000};
  RecordingClientListener listener;  // outlives the reader, which TearDown joins
  int peer = -1;
  SocketHandle serverSide = kInvalidSocket;
  std::unique_ptr<ClientConnection> connection;
};

TEST_F(ConnectionTest, SendsOnlyAStateThatDiffersFromTheLastOne) {
  const VolumeState initial;  // unmuted at 100, what every client assumes
  EXPECT_EQ(SendStateIfDue(connection.get(), &initial), SendStateResult::Done);
  EXPECT_TRUE(Received().empty());

  const VolumeState muted30 = Muted(30);
  EXPECT_EQ(SendStateIfDue(connection.get(), &muted30), SendStateResult::Done);
  EXPECT_EQ(SendStateIfDue(connection.get(), &muted30), SendStateResult::Done);
  EXPECT_EQ(Received(), std::vector<uint8_t>{0x9E});
}

// A client that asked for a state hears of others only half a second later, and never hears
// its own request back.
TEST_F(ConnectionTest, HoldsOffForHalfASecondAfterARequest) {
  StartReader(&listener);
  ClientRequests(0x3C, listener);  // unmuted 60
  const VolumeState sixty = Unmuted(60);
  const VolumeState seventy = Unmuted(70);

  clock.Advance(499);
  EXPECT_EQ(SendStateIfDue(connection.get(), &seventy), SendStateResult::Deferred);
  clock.Advance(1);
  // A deferral forgets nothing: the client still has 60, so 60 is no news.
  EXPECT_EQ(SendStateIfDue(connection.get(), &sixty), SendStateResult::Done);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(SendStateIfDue(connection.get(), &seventy), SendStateResult::Done);
  EXPECT_EQ(SendStateIfDue(connection.get(), &seventy), SendStateResult::Done);
  EXPECT_EQ(Received(), std::vector<uint8_t>{0x46});
}

TEST_F(ConnectionTest, HoldOffSurvivesTheClockWrapping) {
  StartReader(&listener);
  clock.Set(0xFFFFFF00u);
  ClientRequests(0x3C, listener);
  const VolumeState fifty = Unmuted(50);
  clock.Set(0x00000010u);  // 272 ms later, across the wrap
  EXPECT_EQ(SendStateIfDue(connection.get(), &fifty), SendStateResult::Deferred);
  clock.Set(0x000000F4u);  // 500 ms later
  EXPECT_EQ(SendStateIfDue(connection.get(), &fifty), SendStateResult::Done);
  EXPECT_EQ(Received(), std::vector<uint8_t>{0x32});
}

// A client that never asked for anything is not held off, even when the count reads below the
// hold-off (just after boot, or after it wrapped): otherwise it would wrongly believe the
// default state until the next change.
TEST_F(ConnectionTest, AQuietNewClientIsNeverHeldOff) {
  int volume = 30;
  for (uint32_t now : {0u, 1u, 499u}) {
    clock.Set(now);
    const VolumeState muted = Muted(volume++);
    EXPECT_EQ(SendStateIfDue(connection.get(), &muted), SendStateResult::Done) << now;
  }
  EXPECT_EQ(Received(), (std::vector<uint8_t>{0x9E, 0x9F, 0xA0}));
}

TEST_F(ConnectionTest, ASendThatCannotHappenIsReportedFailed) {
  close(peer);
  peer = -1;
  const VolumeState fifty = Unmuted(50);
  EXPECT_EQ(SendStateIfDue(connection.get(), &fifty), SendStateResult::SendFailed);
  // Not tried again on a dead socket: the server ends the connection instead.
  EXPECT_EQ(SendStateIfDue(connection.get(), &fifty), SendStateResult::Done);
}

TEST_F(ConnectionTest, AFullSocketFailsTheSendInsteadOfBlocking) {
  const uint8_t filler = kKeepAliveByte;
  while (SendNow(connection->socket.Get(), &filler, 1) == 1) {
  }
  const VolumeState fifty = Unmuted(50);
  EXPECT_EQ(SendStateIfDue(connection.get(), &fifty), SendStateResult::SendFailed);
}

TEST_F(ConnectionTest, RequestsReachTheListenerInOrderAndHoldTheClientOff) {
  std::vector<std::string> log;
  RecordingClientListener external(&log, "external");
  StartReader(&external, &log);
  clock.Set(7000);
  ClientSends({0x64, 0xE4, 0x80, 0x00, 0x00});
  ASSERT_TRUE(external.WaitForEvents(5));

  const std::vector<VolumeState> expected = {Unmuted(100), Muted(100), Muted(0), Unmuted(0),
                                             Unmuted(0)};
  auto events = external.Events();
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(events[i].name, "volume");
    EXPECT_EQ(events[i].connection, connection.get());
    EXPECT_EQ(events[i].state, expected[i]) << i;
  }
  // The client is held off from its last request on, and already has what it asked for.
  const VolumeState asked = Unmuted(0);
  const VolumeState other = Unmuted(5);
  clock.Set(7499);
  EXPECT_EQ(SendStateIfDue(connection.get(), &other), SendStateResult::Deferred);
  clock.Set(7500);
  EXPECT_EQ(SendStateIfDue(connection.get(), &asked), SendStateResult::Done);
  EXPECT_TRUE(Received().empty());
  StopReader();
  // The listener hears the end before the server retires the connection.
  EXPECT_EQ(log, (std::vector<std::string>{"external:volume", "external:volume", "external:volume",
                                           "external:volume", "external:volume",
                                           "external:disconnected", "server:ended"}));
}

TEST_F(ConnectionTest, KeepAlivesFromTheClientChangeNothing) {
  StartReader(&listener);
  clock.Set(100);
  ClientSends({0xFF, 0xFF, 0xFF});
  close(peer);
  peer = -1;
  connection->readerThread.Join();  // every byte has been handled
  EXPECT_EQ(Names(listener), std::vector<std::string>{"disconnected"});
  // Still a client that never asked: not held off, even with the clock below the hold-off.
  const VolumeState sixty = Unmuted(60);
  EXPECT_NE(SendStateIfDue(connection.get(), &sixty), SendStateResult::Deferred);
}

TEST_F(ConnectionTest, AKeepAliveDoesNotRestartTheHoldOff) {
  StartReader(&listener);
  clock.Set(5000);
  ClientSends({0x32});
  ASSERT_TRUE(listener.WaitForEvents(1));
  clock.Set(5600);
  ClientSends({0xFF});
  close(peer);
  peer = -1;
  connection->readerThread.Join();  // every byte has been handled
  const VolumeState sixty = Unmuted(60);
  // The socket is closed by now, so the send fails, but it was due, not deferred.
  EXPECT_NE(SendStateIfDue(connection.get(), &sixty), SendStateResult::Deferred);
}

TEST_F(ConnectionTest, AnInvalidByteEndsTheConnectionAfterEarlierRequests) {
  for (uint8_t invalid : {0x65, 0x7F, 0xE5, 0xFE}) {
    std::vector<std::string> log;
    RecordingClientListener external(&log, "external");
    StartReader(&external, &log);
    ClientSends({0x10, 0x90, invalid, 0x20});
    connection->readerThread.Join();
    EXPECT_EQ(log, (std::vector<std::string>{"external:volume", "external:volume",
                                             "external:disconnected", "server:ended"}))
        << int(invalid);
    EXPECT_EQ(external.Events()[1].state, Muted(16)) << int(invalid);
    EXPECT_FALSE(connection->socket.Valid());
    uint8_t byte;
    EXPECT_LE(recv(peer, &byte, 1, 0), 0) << "the client sees its connection closed";
    TearDown();
    SetUp();  // a fresh connection for the next byte
  }
}

// Closes the socket only once the listener and the server have heard of the end: the server
// relies on it to unlist the connection before anything could send on a closed socket.
class SocketCheckingListener final : public IClientListener {
 public:
  void OnVolumeReceived(ClientConnection*, const VolumeState*) override {}
  void OnClientDisconnected(ClientConnection* connection) override {
    socketOpenAtEnd = connection->socket.Valid();
  }
  bool socketOpenAtEnd = false;
};

TEST_F(ConnectionTest, ThePeerClosingTellsTheListenerAndServerBeforeTheSocketCloses) {
  SocketCheckingListener listener;
  std::vector<std::string> log;
  StartReader(&listener, &log);  // `ended` checks the socket too
  close(peer);
  peer = -1;
  connection->readerThread.Join();
  EXPECT_TRUE(listener.socketOpenAtEnd);
  EXPECT_EQ(log, std::vector<std::string>{"server:ended"});
  EXPECT_FALSE(connection->socket.Valid());
}

}  // namespace

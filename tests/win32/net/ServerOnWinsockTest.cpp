// The network server and relay over the Winsock adapter: what a client sees, and the stops that
// must wake threads blocked in accept and receive.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "net/Networking.h"
#include "net/ServerFixture.h"

namespace {

using namespace std::chrono_literals;
const std::vector<uint8_t> kGreetingBytes(kGreeting.begin(), kGreeting.end());

// A stop that never returns leaves a thread that cannot be joined: fail and end the run now.
[[noreturn]] void StuckInStop() {
  ADD_FAILURE() << "Stop did not return within 10 s: a thread is still blocked in accept or recv";
  std::fflush(stdout);
  std::_Exit(1);
}

class ServerOnWinsock : public ServerFixture {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartNetworking(), NetStartResult::Ok);
    ServerFixture::SetUp();
  }
  void TearDown() override {
    StopInTime(server);
    ServerFixture::TearDown();
    StopNetworking();
  }
  // Stop must return: a thread left blocked in accept or recv would hang it.
  static void StopInTime(NetworkServer& stopping) {
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
      stopping.Stop();
      stopped = true;
    });
    if (!Eventually([&] { return stopped.load(); }, 10s)) StuckInStop();
    stopper.join();
  }
};

}  // namespace

TEST_F(ServerOnWinsock, GreetingThenTheStateUnlessItIsTheDefault) {
  auto quiet = Connect();
  volume.SetDeviceState(VolumeState{1, 30});
  TestClient client(port);
  EXPECT_EQ(client.Read(5), (std::vector<uint8_t>{0x19, 0xC8, 0xDE, 0x00, 0x9E}));
  relay.SendKeepAlive();
  EXPECT_EQ(quiet->Read(1), std::vector<uint8_t>{0xFF}) << "nothing before the keep-alive";
}

TEST_F(ServerOnWinsock, RequestsReachTheVolumeAndChangesReachOthersButNotTheRequester) {
  auto a = Connect();
  auto b = Connect();
  a->Send(0x32);
  ASSERT_TRUE(volume.WaitForRequests(1));
  EXPECT_EQ(volume.Requests()[0], (VolumeState{0, 50}));
  clock.Advance(1000);
  volume.Report(VolumeState{0, 50});
  EXPECT_EQ(b->Read(1), std::vector<uint8_t>{0x32});
  relay.SendKeepAlive();
  EXPECT_EQ(a->Read(1), std::vector<uint8_t>{0xFF}) << "no echo to the requester";
}

TEST_F(ServerOnWinsock, InvalidByteAndPeerCloseEndTheirConnections) {
  auto invalid = Connect();
  auto leaving = Connect();
  auto staying = Connect();
  invalid->Send(0x65);
  EXPECT_TRUE(invalid->Read(1).empty()) << "closed without a word";
  leaving->Close();
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  auto next = Connect();  // the accept after them reaps what they left
  EXPECT_TRUE(Eventually([&] { return server.RetiredCount() == 0; }));
}

TEST_F(ServerOnWinsock, StopWithClientsEndsEveryConnectionAndRestartsElsewhere) {
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(Connect());
  StopInTime(server);
  for (auto& client : clients) EXPECT_TRUE(client->Read(1).empty());
  EXPECT_EQ(server.ClientCount(), 0u);

  const uint16_t old = port;
  ASSERT_TRUE(server.BindAndListen(0));
  ASSERT_TRUE(server.Start());
  port = server.ListeningPort();
  auto moved = Connect();
  EXPECT_TRUE(moved->Connected());
  if (port != old) {
    EXPECT_FALSE(TestClient(old).Connected());
  }
}

// The accept thread waits for the last reader of a drain to report its end. A wake-up lost there
// (as with the C++ runtime's semaphore on Windows) hangs Stop now and then, so stop many times.
TEST_F(ServerOnWinsock, EveryStopWithClientsReturns) {
  for (int cycle = 0; cycle < 40; ++cycle) {
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(Connect());
    StopInTime(server);
    ASSERT_TRUE(server.BindAndListen(0));
    ASSERT_TRUE(server.Start());
    port = server.ListeningPort();
  }
}

TEST_F(ServerOnWinsock, BusyPortFailsToBindAndItsAcceptThreadEndsAtOnce) {
  NetworkServer other{clock};
  other.SetStateSource(&volume);
  EXPECT_FALSE(other.BindAndListen(port));
  ASSERT_TRUE(other.Start());
  StopInTime(other);
}

namespace {

// One dual-stack socket serves both families, and the gate closes refused clients before the
// greeting.
TEST_F(ServerOnWinsock, IPv6LoopbackIsServedAndTheGateClosesRefusedClientsSilently) {
  TestClient v6;
  ASSERT_TRUE(v6.Connect(port, {.address = "::1"}));
  EXPECT_EQ(v6.Read(4), kGreetingBytes);

  server.SetAccessPolicy({false, {*ParseIpNetwork("10.0.0.0/8")}, 4096});
  TestClient refused(port);
  ASSERT_TRUE(refused.Connected());
  EXPECT_TRUE(refused.Read(4).empty()) << "closed without a greeting";
  TestClient refusedV6;
  ASSERT_TRUE(refusedV6.Connect(port, {.address = "::1"}));
  EXPECT_TRUE(refusedV6.Read(4).empty());

  server.SetAccessPolicy({true, {}, 1});
  TestClient beyondBound(port);
  EXPECT_TRUE(beyondBound.Read(4).empty()) << "one client is connected already";
  server.SetAccessPolicy({true, {}, 4096});
  TestClient welcome(port);
  EXPECT_EQ(welcome.Read(4), kGreetingBytes);
}

}  // namespace

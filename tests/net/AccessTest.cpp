// Where the server listens and whom it serves, on both IP families: the real server on loopback
// and inside network namespaces this test creates (a veth pair carrying private and
// documentation-range addresses), never on the machine's own interfaces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ServerFixture.h"
#include "VethPair.h"
#include "fakes/CapturedLog.h"
#include "net/ClientGate.h"

namespace {

const std::vector<uint8_t> kGreetingBytes(kGreeting.begin(), kGreeting.end());

IpAddress Ip(const char* text) {
  const std::optional<IpAddress> address = ParseIpAddress(text);
  EXPECT_TRUE(address) << text;
  return address.value_or(IpAddress{});
}

// What a client sees after connecting (and sending `request`, if any): the greeting, an HTTP
// answer, its connection closed with nothing sent, or (for the bound on waits) nothing at all.
enum class Seen { Greeting, HttpAnswer, ClosedSilently, NoConnection, Other };

// Connects from `source` (any when null) to `destination`:`port`, of either family.
Seen Dial(const char* source, const char* destination, uint16_t port,
          const std::string& request = "") {
  TestClient client;
  if (!client.Connect(port, {.address = destination, .source = source ? source : ""})) {
    return client.SourceRefused() ? Seen::Other : Seen::NoConnection;
  }
  if (!request.empty()) client.SendText(request);
  const std::vector<uint8_t> got = client.Read(kGreetingBytes.size());
  if (got.empty() && client.Ended()) return Seen::ClosedSilently;
  const std::vector<uint8_t> http{'H', 'T', 'T', 'P'};
  return got == kGreetingBytes ? Seen::Greeting : got == http ? Seen::HttpAnswer : Seen::Other;
}

// A client on ::1 is served like one on 127.0.0.1: greeted, and told every change.
class DualStackTest : public ServerFixture {
 protected:
  DualStackTest() { servePage = true; }
};

TEST_F(DualStackTest, AClientOnIPv6LoopbackIsGreetedAndToldChanges) {
  auto v4 = Connect();
  TestClient v6;
  if (!v6.Connect(port, {.address = "::1"})) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_EQ(v6.Read(4), kGreetingBytes);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
  volume.Report(VolumeState{true, 48});
  const std::optional<uint8_t> change = v6.ReadByte();
  ASSERT_TRUE(change);
  EXPECT_EQ(change, v4->ReadByte());
}

// Each listener has its own accept thread, and each reaps the readers that have ended: one may
// end before the other's accept thread has recorded its start, and must then be left to it.
TEST_F(DualStackTest, ClientsComingAndGoingThroughTwoListenersAtOnceAreEachJoined) {
  server.Stop();
  server.SetListenAddresses({Ip("127.0.0.1"), Ip("::1")});
  if (!server.BindAndListen(0)) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(server.Start());
  const uint16_t both = server.ListeningPort();
  auto churn = [both](const char* address, int* greeted) {
    for (int i = 0; i < 300; ++i) *greeted += Dial(nullptr, address, both) == Seen::Greeting;
  };
  int v4 = 0, v6 = 0;
  std::thread other(churn, "::1", &v6);
  churn("127.0.0.1", &v4);
  other.join();
  EXPECT_EQ(v4 + v6, 600);
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
  EXPECT_TRUE(server.Stop()) << "every reader ended and was joined";
}

TEST_F(DualStackTest, AClientBeyondTheBoundIsClosedBeforeTheGreeting) {
  CapturedLog log;
  server.SetAccessPolicy({false, {}, 2});
  auto first = Connect();
  auto second = Connect();
  EXPECT_EQ(Dial(nullptr, "127.0.0.1", port), Seen::ClosedSilently);
  EXPECT_EQ(Dial(nullptr, "::1", port), Seen::ClosedSilently);
  EXPECT_EQ(server.ClientCount(), 2u);
  EXPECT_EQ(log.Lines().size(), 1u) << "once a minute";
  second.reset();
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  EXPECT_EQ(Dial(nullptr, "127.0.0.1", port), Seen::Greeting);

  // A page still sending its request holds a reader like a client, and counts as one.
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  TestClient halfSent(pagePort);
  ASSERT_TRUE(halfSent.SendText("GET / HT"));
  const std::string whole = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
  EXPECT_EQ(Dial(nullptr, "127.0.0.1", pagePort, whole), Seen::ClosedSilently)
      << "accepted after the half-sent one, on the same listener";
  EXPECT_EQ(Dial(nullptr, "127.0.0.1", port), Seen::ClosedSilently);
}

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!spaces.Ready()) GTEST_SKIP() << "cannot create network namespaces here";
    server.SetStateSource(&volume);
  }
  void TearDown() override { server.Stop(); }

  // (Re)starts the server inside the server namespace; false when it would not listen.
  bool Listen(std::vector<IpAddress> addresses = {}) {
    server.Stop();
    server.SetListenAddresses(std::move(addresses));
    bool listening = false;
    spaces.InServer(
        [&] { listening = server.BindAndListen(0) && page.Listen(0, site) && server.Start(); });
    port = server.ListeningPort();
    pagePort = page.Port();
    return listening;
  }
  Seen From(const char* source, const char* destination) {
    Seen seen = Seen::Other;
    EXPECT_TRUE(spaces.InClient([&] { seen = Dial(source, destination, port); }));
    return seen;
  }
  // Asks the control page's port for the page, under the address asked for as Host.
  Seen PageFrom(const char* source, const char* destination) {
    Seen seen = Seen::Other;
    const std::string request = std::string("GET / HTTP/1.1\r\nHost: ") + destination + "\r\n\r\n";
    EXPECT_TRUE(spaces.InClient([&] { seen = Dial(source, destination, pagePort, request); }));
    return seen;
  }

  // A private address and one from the documentation range on each side.
  VethPair spaces{"access",
                  {{"10.232.0.1/24", "10.232.0.2/24"}, {"203.0.113.1/24", "203.0.113.2/24"}}};
  FakeClock clock;
  FakeVolumeControl volume;
  NetworkServer server{clock};
  PageService page{server};
  const PageSite site{"box", {"box"}, std::chrono::seconds(5)};
  uint16_t port = 0;
  uint16_t pagePort = 0;
};

TEST_F(AccessTest, OnlyTheLocalNetworksAreServedUnlessTheSettingSaysOtherwise) {
  ASSERT_TRUE(Listen());
  CapturedLog log;
  EXPECT_EQ(From("10.232.0.2", "10.232.0.1"), Seen::Greeting);
  EXPECT_EQ(From("203.0.113.2", "203.0.113.1"), Seen::ClosedSilently);
  EXPECT_EQ(From("203.0.113.2", "10.232.0.1"), Seen::ClosedSilently);
  // The page's port has the same gate, before a byte of HTTP.
  EXPECT_EQ(PageFrom("10.232.0.2", "10.232.0.1"), Seen::HttpAnswer);
  EXPECT_EQ(PageFrom("203.0.113.2", "203.0.113.1"), Seen::ClosedSilently);
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u) << "one line per source a minute";
  EXPECT_NE(lines[0].find("203.0.113.2"), std::string::npos) << lines[0];
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));

  server.SetAccessPolicy({true, {}, 4096});
  EXPECT_EQ(From("203.0.113.2", "203.0.113.1"), Seen::Greeting);
  server.SetAccessPolicy({false, {*ParseIpNetwork("203.0.113.0/24")}, 4096});
  EXPECT_EQ(From("203.0.113.2", "203.0.113.1"), Seen::Greeting);
  EXPECT_EQ(From("10.232.0.2", "10.232.0.1"), Seen::ClosedSilently);
}

TEST_F(AccessTest, AListenAddressLimitsWhereTheServerAnswers) {
  server.SetAccessPolicy({true, {}, 4096});
  ASSERT_TRUE(Listen({Ip("10.232.0.1")}));
  EXPECT_EQ(From("10.232.0.2", "10.232.0.1"), Seen::Greeting);
  EXPECT_EQ(From("203.0.113.2", "203.0.113.1"), Seen::NoConnection);
  EXPECT_EQ(PageFrom("203.0.113.2", "203.0.113.1"), Seen::NoConnection) << "nor the page";

  // Two addresses of both families share one port.
  ASSERT_TRUE(Listen({Ip("203.0.113.1"), Ip("::1")}));
  EXPECT_EQ(From("203.0.113.2", "203.0.113.1"), Seen::Greeting);
  EXPECT_EQ(From("10.232.0.2", "10.232.0.1"), Seen::NoConnection);

  // An address this computer does not have is refused by name, and nothing listens.
  EXPECT_FALSE(Listen({Ip("10.232.0.1"), Ip("192.0.2.77")}));
  EXPECT_EQ(server.LastListenResult(), ListenResult::NotLocal);
  ASSERT_TRUE(server.FailedAddress());
  EXPECT_EQ(IpAddressText(*server.FailedAddress()), "192.0.2.77");
  EXPECT_EQ(From("10.232.0.2", "10.232.0.1"), Seen::NoConnection);
}

TEST(IPv6Off, IPv4AloneIsServedWhereIPv6IsSwitchedOff) {
  const std::string name = "quavix-net-access-v4-" + std::to_string(getpid());
  if (!VethPair::Run("ip netns add " + name)) GTEST_SKIP() << "cannot create namespaces";
  const bool ready =
      VethPair::Run("ip netns exec " + name + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1") &&
      VethPair::Run("ip netns exec " + name + " sysctl -qw net.ipv6.conf.lo.disable_ipv6=1") &&
      VethPair::Run("ip -n " + name + " link set lo up");
  FakeClock clock;
  FakeVolumeControl volume;
  NetworkServer server(clock);
  server.SetStateSource(&volume);
  Seen v4 = Seen::Other, v6 = Seen::Other;
  bool listening = false;
  CapturedLog log;
  VethPair::In(name, [&] {
    listening = server.BindAndListen(0) && server.Start();
    v4 = Dial(nullptr, "127.0.0.1", server.ListeningPort());
    v6 = Dial(nullptr, "::1", server.ListeningPort());
  });
  server.Stop();
  VethPair::Run("ip netns del " + name);
  ASSERT_TRUE(ready);
  EXPECT_TRUE(listening);
  EXPECT_EQ(v4, Seen::Greeting);
  EXPECT_EQ(v6, Seen::NoConnection);
  EXPECT_TRUE(log.Lines().empty()) << "silently";
}

}  // namespace

// The control page's port: its WebSocket carries the byte protocol under the same rules as the
// byte port, it answers only to this computer's names, and hostile peers are cut off.

#include <chrono>
#include <string>
#include <thread>

#include "net/ServerFixture.h"
#include "net/page/PageRequest.h"
#include "support/PageClient.h"
#include "support/ProcessProbe.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::optional<uint8_t> Byte(uint8_t value) {
  return value;
}

class PageTest : public ServerFixture {
 protected:
  PageTest() {
    servePage = true;
    site.requestTime = std::chrono::seconds(1);  // a slow sender is cut off quickly
  }

  std::unique_ptr<PageClient> OpenPage() {
    const size_t before = server.ClientCount();
    auto page = std::make_unique<PageClient>(pagePort);
    EXPECT_TRUE(page->Open("localhost:" + std::to_string(pagePort),
                           "http://localhost:" + std::to_string(pagePort)));
    EXPECT_EQ(page->Read(4), Bytes(kGreeting.begin(), kGreeting.end()));
    EXPECT_TRUE(Eventually([&] { return server.ClientCount() == before + 1; }));
    return page;
  }

  void Request(PageClient& page, uint8_t byte) {
    const size_t before = volume.Requests().size();
    ASSERT_TRUE(page.Send({byte}));
    ASSERT_TRUE(volume.WaitForRequests(before + 1));
  }
  using ServerFixture::Request;

  void ExpectNothingPending(PageClient& page) {
    relay.SendKeepAlive();
    EXPECT_EQ(page.ReadByte(), Byte(kKeepAliveByte));
  }
  using ServerFixture::ExpectNothingPending;

  // A browser's WebSocket handshake, raw.
  static std::string Upgrade(const std::string& host, const std::string& origin) {
    return "GET /ws HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin +
           "\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
  }

  // Sends `request` raw and returns everything the server answers until it closes.
  std::string Ask(const std::string& request) {
    TestClient client(pagePort);
    EXPECT_TRUE(client.Send(Bytes(request.begin(), request.end())));
    std::string answer;
    for (;;) {
      const Bytes part = client.ReadAvailable(std::chrono::seconds(5));
      if (part.empty()) break;
      answer.append(part.begin(), part.end());
    }
    return answer;
  }
};

TEST_F(PageTest, APageIsAClientLikeAnyOther) {
  volume.SetDeviceState({0, 40});
  auto page = std::make_unique<PageClient>(pagePort);
  ASSERT_TRUE(page->Open()) << "no Origin: not a browser";
  EXPECT_EQ(page->Read(5), (Bytes{0x19, 0xC8, 0xDE, 0x00, 0x28}));
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  auto other = Connect();
  EXPECT_EQ(other->ReadByte(), Byte(0x28));

  // The page's request reaches the others and is not echoed to it.
  Request(*page, 0xB2);
  EXPECT_EQ(volume.Requests().back(), (VolumeState{1, 50}));
  volume.Report({1, 50});
  EXPECT_EQ(other->ReadByte(), Byte(0xB2));
  ExpectNothingPending(*page);

  // Another change inside its hold-off waits until the page has been quiet for 500 ms.
  clock.Advance(100);
  Request(*other, 0x3C);
  volume.Report({0, 60});
  EXPECT_EQ(retry.Arms(), 1);
  clock.Advance(HOLD_OFF_MS - 100);
  // The other is held off still: it asked 100 ms after the page's state was written to it.
  EXPECT_TRUE(relay.BroadcastState());
  EXPECT_EQ(page->ReadByte(), Byte(0x3C));
  ExpectNothingPending(*other);

  // An invalid byte ends the page's connection as it ends a byte client's.
  ASSERT_TRUE(page->Send({0x70}));
  EXPECT_TRUE(page->WaitForEnd());
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
}

TEST_F(PageTest, ThePageIsServedUnderThisComputersNamesOnly) {
  const std::string port = std::to_string(pagePort);
  for (const std::string& host :
       std::vector<std::string>{"localhost:" + port, "TEST-BOX.local", "127.0.0.1:" + port}) {
    const std::string answer = Ask("GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << host;
    EXPECT_NE(answer.find("<h1 id=\"name\">test-box</h1>"), std::string::npos) << host;
    EXPECT_NE(answer.find("<input type=\"range\""), std::string::npos) << host;
  }
  // A name of someone else's that resolves to us (DNS rebinding), another of our addresses'
  // look-alikes, or no name at all: no page.
  for (const std::string& head : std::vector<std::string>{
           "Host: attacker.example:" + port, "Host: 127.0.0.2", "Host: localhost.attacker.example",
           "Host: localhost:http", "Host: localhost\r\nHost: attacker.example", ""}) {
    const std::string answer = Ask("GET / HTTP/1.1\r\n" + head + "\r\n\r\n");
    EXPECT_EQ(answer.find("<input"), std::string::npos) << head;
    EXPECT_TRUE(answer.rfind("HTTP/1.1 421", 0) == 0 || answer.rfind("HTTP/1.1 400", 0) == 0)
        << head << ": " << answer.substr(0, 40);
  }
  EXPECT_EQ(Ask("POST / HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 405", 0), 0u);
  EXPECT_EQ(Ask("GET /x HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 404", 0), 0u);
  EXPECT_EQ(Ask("GET /ws HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 426", 0), 0u);

  // The WebSocket is refused under a foreign name too.
  EXPECT_EQ(Ask(Upgrade("attacker.example:" + port, "http://attacker.example:" + port))
                .rfind("HTTP/1.1 421", 0),
            0u);
}

TEST_F(PageTest, AnotherSitesPageGetsNoWebSocket) {
  const std::string host = "localhost:" + std::to_string(pagePort);
  for (const std::string& origin : std::vector<std::string>{
           "http://attacker.example", "null", "https://" + host, "http://" + host + ".example"}) {
    EXPECT_EQ(Ask(Upgrade(host, origin)).rfind("HTTP/1.1 403", 0), 0u) << origin;
  }
  EXPECT_EQ(server.ClientCount(), 0u);
  PageClient own(pagePort);
  EXPECT_TRUE(own.Open(host, "http://LOCALHOST:" + std::to_string(pagePort)));
}

TEST_F(PageTest, HostileInputIsCutOffWithoutDisturbingOthers) {
  volume.echoSetState = true;
  auto page = OpenPage();
  auto byteClient = Connect();

  // A slow sender that never finishes its request is cut off after the request time; others
  // are served meanwhile.
  TestClient slow(pagePort);
  ASSERT_TRUE(slow.Send({'G', 'E', 'T', ' '}));
  Request(*page, 0x20);
  EXPECT_EQ(byteClient->ReadByte(), Byte(0x20));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(slow.WaitForEnd());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

  // A head larger than the limit, and bytes that are no HTTP at all: a clear refusal.
  const std::string huge = "GET / HTTP/1.1\r\nHost: localhost\r\nX: " + std::string(64 * 1024, 'a');
  EXPECT_EQ(Ask(huge + "\r\n\r\n").rfind("HTTP/1.1 431", 0), 0u);
  EXPECT_EQ(Ask("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n").rfind("HTTP/1.1 400", 0),
            0u);
  EXPECT_EQ(Ask("GET / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\n\r\nhello")
                .rfind("HTTP/1.1 400", 0),
            0u);

  // A message longer than a few bytes, and a text message: the socket is closed.
  for (const bool binary : {true, false}) {
    auto hostile = OpenPage();
    ASSERT_TRUE(hostile->Send(Bytes(binary ? 1000 : 1, 0x10), binary));
    EXPECT_TRUE(hostile->WaitForEnd()) << binary;
    EXPECT_NE(hostile->closeCode, 0) << "a close frame says why";
    ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
  }

  // A flood of requests is taken one after another: the last one wins, nobody else waits.
  const size_t before = volume.Requests().size();
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(page->Send({static_cast<uint8_t>(i % 100)}));
  ASSERT_TRUE(volume.WaitForRequests(before + 2000));
  EXPECT_EQ(volume.Requests().back(), (VolumeState{0, 99}));
  clock.Advance(HOLD_OFF_MS);
  Request(*byteClient, 0x21);
  EXPECT_EQ(page->ReadByte(), Byte(0x21));
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 2; }));
}

// Peers that would hold their connection far longer than the stop bound, each by itself.
class PageStopTest : public PageTest {
 protected:
  PageStopTest() { site.requestTime = std::chrono::seconds(30); }
};

TEST_F(PageStopTest, StopEndsPagesRequestsHalfWayAndUnansweredClosesAtOnce) {
  auto page = OpenPage();
  TestClient slow(pagePort);
  ASSERT_TRUE(slow.Send({'G', 'E'}));
  // The server closes this one (a text message) and waits for an answer that never comes.
  auto silent = OpenPage();
  ASSERT_TRUE(silent->Send({'x'}, false));
  ASSERT_EQ(silent->ReadFrameStartUnanswered(), Byte(0x88)) << "a close frame";
  EXPECT_TRUE(server.Stop()) << "a reader outlived the stop bound";
  EXPECT_TRUE(page->WaitForEnd());
  EXPECT_TRUE(slow.WaitForEnd());
  EXPECT_EQ(wired.Page().Port(), 0);
}

TEST_F(PageTest, EndedRequestsGiveBackTheirDescriptorsWithoutAnotherAccept) {
  const long baseline = CountOpenFds();
  const std::string whole = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
  // Answered, cut off half-way (after the request time), refused.
  const std::vector<std::string> requests{whole, whole.substr(0, 9), "\x16\x03\x01\r\n\r\n"};
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 60; ++i) {
    clients.push_back(std::make_unique<TestClient>(pagePort));
    const std::string& request = requests[i % requests.size()];
    ASSERT_TRUE(clients.back()->Send(Bytes(request.begin(), request.end())));
  }
  // Each was accepted and answered; the server lingers until its client leaves.
  for (const auto& client : clients) ASSERT_TRUE(client->WaitForEnd());
  clients.clear();
  // Nothing is accepted from here on: what is freed, is freed by the ends themselves.
  EXPECT_TRUE(Eventually([&] { return CountOpenFds() <= baseline; }, std::chrono::seconds(10)))
      << CountOpenFds() - baseline << " descriptors more than before the burst";
}

TEST(PageRequestTest, HostRule) {
  const PageSite site{"Box", {"box", "box.local", "localhost"}, std::chrono::seconds(1)};
  EXPECT_TRUE(HostIsOurs("BOX:17496", site, "10.0.0.5"));
  EXPECT_TRUE(HostIsOurs("10.0.0.5:17496", site, "10.0.0.5"));
  EXPECT_TRUE(HostIsOurs("10.0.0.5", site, "10.0.0.5"));
  EXPECT_FALSE(HostIsOurs("10.0.0.6", site, "10.0.0.5"));
  EXPECT_FALSE(HostIsOurs("box:", site, "10.0.0.5"));
  EXPECT_FALSE(HostIsOurs("box:123456", site, "10.0.0.5"));
  EXPECT_FALSE(HostIsOurs("[::1]:17496", site, "10.0.0.5"));
  EXPECT_TRUE(HostIsOurs("[fd00::5]:17496", site, "fd00::5"));
  EXPECT_TRUE(HostIsOurs("[FD00::5]", site, "fd00::5"));
  EXPECT_FALSE(HostIsOurs("[fd00::5]x", site, "fd00::5"));
  EXPECT_FALSE(HostIsOurs("[fd00::5", site, "fd00::5"));
  EXPECT_FALSE(HostIsOurs("fd00::5", site, "fd00::5")) << "an IPv6 Host is bracketed";
  EXPECT_FALSE(HostIsOurs("", site, ""));
}

TEST(PageRequestTest, TheComputersNameIsEscaped) {
  const std::string page = PageHtml("<b>&\"'");
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;&amp;&quot;&#39;"), std::string::npos);
}

}  // namespace

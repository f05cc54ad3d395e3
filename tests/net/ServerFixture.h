#pragma once
// A real server on an ephemeral loopback port, wired to a scriptable volume control, a fake
// clock and a fake retry timer, as start-up wires the real ones.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fakes/Eventually.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeRetryTimer.h"
#include "fakes/FakeVolumeControl.h"
#include "net/Protocol.h"
#include "net/VolumeServer.h"
#include "support/TestClient.h"

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    port = wired.Serve(&volume, 0, servePage ? &site : nullptr);
    pagePort = wired.Page().Port();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    wired.UnregisterChangeCallback();
    server.Stop();
    EXPECT_EQ(server.ClientCount(), 0u);
    EXPECT_EQ(server.RetiredCount(), 0u);
  }

  // Connects, checks the greeting, and waits until the server lists the client.
  std::unique_ptr<TestClient> Connect() {
    const size_t before = server.ClientCount();
    auto client = std::make_unique<TestClient>(port);
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(client->Read(4), std::vector<uint8_t>(kGreeting.begin(), kGreeting.end()));
    EXPECT_TRUE(Eventually([&] { return server.ClientCount() == before + 1; }));
    return client;
  }

  // Nothing was sent to `client` before now: the next byte is the keep-alive sent here.
  void ExpectNothingPending(TestClient& client) {
    relay.SendKeepAlive();
    EXPECT_EQ(client.ReadByte(), std::optional<uint8_t>(kKeepAliveByte));
  }

  // A client's request reached the volume control (so the reader recorded it first).
  void Request(TestClient& client, uint8_t byte) {
    const size_t before = volume.Requests().size();
    ASSERT_TRUE(client.Send({byte}));
    ASSERT_TRUE(volume.WaitForRequests(before + 1));
  }

  FakeClock clock{100000};
  FakeVolumeControl volume;
  FakeRetryTimer retry;
  VolumeServer wired{clock, retry};
  NetworkServer& server = wired.Server();
  MyClientListener& relay = wired.Relay();
  uint16_t port = 0;
  // Set by fixtures of the control page before SetUp.
  bool servePage = false;
  PageSite site{"test-box", {"test-box", "test-box.local", "localhost"}, std::chrono::seconds(5)};
  uint16_t pagePort = 0;
};

// Churn: the server moved from port to port while clients come and go, and a long run of
// clients connecting and leaving in every way a client can. Nothing may leak: threads,
// descriptors or connection records, counted from /proc/self and the server itself.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "LoadSizes.h"
#include "fakes/Eventually.h"
#include "net/Protocol.h"
#include "support/ClientFleet.h"
#include "support/ProcessProbe.h"
#include "support/RelayedServer.h"
#include "support/TestClient.h"

namespace {

using namespace std::chrono_literals;

// One client's visit, in one of four ways of leaving. True when it was greeted.
bool Visit(uint16_t port, uint32_t* source, unsigned way, std::chrono::milliseconds timeout) {
  TestClient client;
  if (!client.Connect(port, {.source = LoopbackSource((*source)++), .connectFor = timeout})) {
    return false;
  }
  const bool greeted =
      client.Read(4, timeout) == std::vector<uint8_t>(kGreeting.begin(), kGreeting.end());
  switch (way % 4) {
    case 0:  // leaves politely
      client.Close();
      break;
    case 1:  // vanishes with a reset
      client.Reset();
      break;
    case 2:  // asks for a state, then leaves
      client.Send(static_cast<uint8_t>(way % 101));
      client.Close();
      break;
    default:  // sends a byte that is no state; the server ends the connection
      client.Send(0x7F);
      client.ReadToEnd(timeout);
      client.Close();
      break;
  }
  return greeted;
}

}  // namespace

TEST(Churn, PortChangesWhileClientsComeAndGo) {
  const long cycles = LoadSize(200, 1000);
  RelayedServer wired;
  wired.volume.echoSetState = true;
  wired.volume.SetDeviceState({1, 30});
  ASSERT_NE(wired.Listen(), 0);
  wired.server.Stop();  // one cycle first, so lazily created runtime threads count as baseline
  const long baseThreads = CountThreads();
  const long baseFds = CountOpenFds();

  std::atomic<uint16_t> port{0};
  std::atomic<bool> done{false};
  std::atomic<long> visits{0}, greeted{0};
  std::vector<std::thread> visitors;
  for (unsigned v = 0; v < 3; ++v) {
    visitors.emplace_back([&, v] {
      uint32_t source = v * 83;
      for (unsigned way = v; !done.load(); way += 3) {
        const uint16_t current = port.load();
        if (current == 0) {
          usleep(200);  // between Stop and Start; the port is published again in a moment
          continue;
        }
        greeted += Visit(current, &source, way, 300ms) ? 1 : 0;
        ++visits;
      }
    });
  }
  // Changes keep arriving through every stop and start, as the audio thread would send them.
  std::thread changes([&] {
    for (int32_t i = 0; !done.load(); ++i) {
      wired.volume.Report({static_cast<uint8_t>(i & 1), i % 101});
      usleep(500);
    }
  });

  for (long cycle = 0; cycle < cycles; ++cycle) {
    port.store(0);
    wired.server.Stop();
    ASSERT_EQ(wired.server.ClientCount(), 0u) << "cycle " << cycle;
    ASSERT_EQ(wired.server.RetiredCount(), 0u) << "cycle " << cycle;
    ASSERT_TRUE(wired.server.BindAndListen(0)) << "cycle " << cycle;
    ASSERT_TRUE(wired.server.Start()) << "cycle " << cycle;
    port.store(wired.server.ListeningPort());
    // Give the visitors a few arrivals on this port before it moves again.
    const long target = greeted.load() + 2;
    Eventually([&] { return greeted.load() >= target; }, 2s);
  }
  done.store(true);
  for (std::thread& visitor : visitors) visitor.join();
  changes.join();
  wired.server.Stop();

  EXPECT_GE(greeted.load(), cycles) << "clients were served on the moving port";
  EXPECT_EQ(wired.server.ClientCount(), 0u);
  EXPECT_EQ(wired.server.RetiredCount(), 0u);
  EXPECT_TRUE(Eventually([&] { return CountThreads() == baseThreads; }, 10s))
      << CountThreads() << " threads, " << baseThreads << " before";
  EXPECT_EQ(CountOpenFds(), baseFds);
  RecordProperty("cycles", static_cast<int>(cycles));
  RecordProperty("visits", static_cast<int>(visits.load()));
  std::printf("%ld port changes, %ld visits, %ld greeted\n", cycles, visits.load(), greeted.load());
}

TEST(Churn, ConnectsAndDisconnectsLeaveNothingBehind) {
  const long total = LoadSize(8000, 100000);
  constexpr unsigned kVisitors = 4;
  RelayedServer wired;
  wired.volume.echoSetState = true;
  wired.volume.SetDeviceState({0, 55});
  const uint16_t port = wired.Listen();
  ASSERT_NE(port, 0);
  uint32_t warmSource = 0;
  ASSERT_TRUE(Visit(port, &warmSource, 0, 5s));
  ASSERT_TRUE(Eventually([&] { return wired.server.ClientCount() == 0; }, 10s));
  // The warm-up's reader may still be closing its socket and ending: a baseline taken now can
  // only be too high, never too low, so the counts below must come back to it or under it.
  const long baseThreads = CountThreads();
  const long baseFds = CountOpenFds();

  std::atomic<long> greeted{0};
  std::vector<std::thread> visitors;
  const auto started = std::chrono::steady_clock::now();
  for (unsigned v = 0; v < kVisitors; ++v) {
    visitors.emplace_back([&, v] {
      uint32_t source = v * 61;
      for (long i = v; i < total; i += kVisitors) {
        greeted += Visit(port, &source, static_cast<unsigned>(i), 5s) ? 1 : 0;
      }
    });
  }
  for (std::thread& visitor : visitors) visitor.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  EXPECT_EQ(greeted.load(), total) << "every client was greeted";
  ASSERT_TRUE(Eventually([&] { return wired.server.ClientCount() == 0; }, 10s))
      << wired.server.ClientCount() << " clients still listed";
  // The next accept frees every record that is left; only the newcomer's own may remain.
  ASSERT_TRUE(Visit(port, &warmSource, 0, 5s));
  EXPECT_TRUE(Eventually(
      [&] { return wired.server.ClientCount() == 0 && wired.server.RetiredCount() <= 1; }, 10s))
      << wired.server.RetiredCount() << " records not freed";
  EXPECT_TRUE(Eventually([&] { return CountThreads() <= baseThreads; }, 10s))
      << CountThreads() << " threads, " << baseThreads << " before";
  EXPECT_TRUE(Eventually([&] { return CountOpenFds() <= baseFds; }, 10s))
      << CountOpenFds() << " descriptors, " << baseFds << " before";

  // Still serving: a newcomer is greeted and hears the current state.
  wired.volume.SetDeviceState({1, 20});
  ClientFleet check;
  EXPECT_EQ(check.Connect(port, 1, 5s), 1u);
  EXPECT_TRUE(check.PumpUntil([&] { return check[0].lastState == 0x94; }, 5s));
  std::printf("%ld connects and disconnects in %.1f s (%.0f per second)\n", total, seconds,
              total / seconds);
}

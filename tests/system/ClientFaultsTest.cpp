// What real clients do to the server: all reconnect at the same moment (after a restart or a
// port change), or vanish without a word (a phone leaving the Wi-Fi).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "LoadSizes.h"
#include "fakes/Eventually.h"
#include "net/Protocol.h"
#include "net/linux/OpenFileLimit.h"
#include "support/ClientFleet.h"
#include "support/RelayedServer.h"
#include "support/TestClient.h"
#include "support/VethPair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Room for `clients` loopback connections: both ends live in this process.
bool RoomForConnections(size_t clients) {
  RaiseOpenFileLimit();
  rlimit limit{};
  return getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= 2 * clients + 128;
}

}  // namespace

// Every connect is fired in one go, with no pacing: the server speaks first, so a client whose
// handshake the kernel completed but the server never learnt of would wait for ever.
TEST(ClientFaults, EveryClientOfABurstIsGreetedWithTheState) {
  const size_t burst = static_cast<size_t>(LoadSize(400, 2000));
  if (!RoomForConnections(burst)) GTEST_SKIP() << "descriptor limit too low for the burst";
  RelayedServer wired;
  wired.volume.SetDeviceState({1, 30});
  const uint8_t state = EncodeStateByte({1, 30});
  const uint16_t port = wired.Listen();
  ASSERT_NE(port, 0);

  ClientFleet fleet;
  const auto start = Clock::now();
  ASSERT_EQ(fleet.Open(port, burst), burst);
  const bool allServed = fleet.PumpUntil([&] { return fleet.CountWithState(state) == burst; }, 2s);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  EXPECT_TRUE(allServed) << fleet.CountWithState(state) << " of " << burst
                         << " clients greeted with the state within 2 s (" << fleet.CountEnded()
                         << " ended)";
  std::printf("burst of %zu connects: %zu greeted with the state in %.0f ms\n", burst,
              fleet.CountWithState(state), ms);
}

// A client whose path is cut sends no FIN; the server must still let it go once it stops
// acknowledging, while an idle client that answers stays.
TEST(ClientFaults, AClientThatVanishesWithoutAWordIsDropped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make network namespaces";
  VethPair path{"faults", {{"10.231.0.1/24", "10.231.0.2/24"}}};
  if (!path.Ready()) GTEST_SKIP() << "cannot make network namespaces (ip from iproute2 needed)";
  RelayedServer wired;
  wired.server.SetDeadClientTimeout(2s);
  uint16_t port = 0;
  ASSERT_TRUE(path.InServer([&] { port = wired.Listen(); }));
  ASSERT_NE(port, 0);
  TestClient vanishing, staying;
  ASSERT_TRUE(path.InClient([&] { vanishing.Connect(port, {.address = "10.231.0.1"}); }));
  ASSERT_TRUE(path.InServer([&] { staying.Connect(port); }));
  ASSERT_EQ(vanishing.Read(4).size(), 4u);
  ASSERT_EQ(staying.Read(4).size(), 4u);
  ASSERT_TRUE(Eventually([&] { return wired.server.ClientCount() == 2; }));

  ASSERT_TRUE(path.Cut());
  const auto cut = Clock::now();
  wired.relay.SendKeepAlive();  // as every 20 s: unacknowledged data from now on
  const bool dropped = Eventually([&] { return wired.server.ClientCount() == 1; }, 30s);
  const double seconds = std::chrono::duration<double>(Clock::now() - cut).count();
  EXPECT_TRUE(dropped) << "the vanished client is still listed after 30 s";
  EXPECT_EQ(staying.ReadByte(), kKeepAliveByte) << "the idle client that answers is kept";
  std::printf("a client whose path was cut was dropped %.1f s later (timeout 2 s)\n", seconds);
}

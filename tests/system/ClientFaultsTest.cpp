// What real clients do to the server: all reconnect at the same moment (after a restart or a
// port change), or vanish without a word (a phone leaving the Wi-Fi).

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "ClientFleet.h"
#include "LoadSizes.h"
#include "RelayedServer.h"
#include "net/Protocol.h"
#include "net/linux/OpenFileLimit.h"

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

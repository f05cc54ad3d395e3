// A connection flood against a server started with a low descriptor limit: far more attempts
// than it can hold. It must stay up, serve the clients it holds, and accept again as soon as
// descriptors free up.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Flood.h"
#include "LoadSizes.h"
#include "fakes/ChildProcess.h"
#include "support/ClientFleet.h"

namespace {

using namespace std::chrono_literals;

// The server's own descriptors besides its clients: stdio, the listener, runtime extras.
constexpr long kServerOverheadFds = 32;

}  // namespace

TEST(Flood, ServerWithFewDescriptorsSurvivesAndRecovers) {
  const long nofile = FullLoadSizes() ? 1024 : (kSanitizedBuild ? 256 : 512);
  // Attempts cost the server little, so sanitizer builds make as many (its threads scale with
  // the descriptors it holds, which stay few).
  const long attempts = FullLoadSizes() ? 20000 : 4000;
  const size_t heldAtOnce = 4000;  // the test's own descriptor budget

  ChildProcess server({QUAVIX_FLOOD_SERVER_PATH, std::to_string(nofile)});
  ASSERT_TRUE(server.Started());
  const std::string portLine = server.ReadLine(10s);
  ASSERT_EQ(portLine.rfind("port ", 0), 0u) << portLine;
  const uint16_t port = static_cast<uint16_t>(std::stoul(portLine.substr(5)));

  ASSERT_TRUE(WarmUp(port, 0x15));
  ClientFleet fleet;
  const size_t wantHeld = static_cast<size_t>(nofile - kServerOverheadFds);
  const FloodResult flood =
      Flood(fleet, port, attempts, heldAtOnce, wantHeld, [&] { return server.Running(); });
  ASSERT_TRUE(flood.serverSurvived) << "the server died during the flood: " << server.Stderr();
  // The server holds close to its limit.
  const size_t holding = fleet.CountLive();
  EXPECT_GE(holding, wantHeld);
  ASSERT_TRUE(server.Running());
  ASSERT_TRUE(server.WriteStdin("count\n"));
  const std::string counted = server.ReadLine(10s);
  ASSERT_EQ(counted.rfind("clients ", 0), 0u) << counted;
  EXPECT_GE(std::stoul(counted.substr(8)), holding) << "the server lists every client it greeted";

  // It serves those it holds: one asks for a state, every other one hears it.
  size_t sender = 0;
  while (!(fleet[sender].fd >= 0 && fleet[sender].greeted)) ++sender;
  ASSERT_TRUE(fleet.Send(sender, 0x14));
  EXPECT_TRUE(fleet.PumpUntil([&] { return fleet.CountWithState(0x14) + 1 >= holding; }, 30s))
      << fleet.CountWithState(0x14) << " of " << holding - 1 << " held clients heard the change";

  // Free the descriptors: a newcomer must be greeted again.
  fleet.CloseAll(true);
  ClientFleet newcomer;
  EXPECT_EQ(newcomer.Connect(port, 1, 20s), 1u) << "no accept after descriptors freed up";
  EXPECT_TRUE(newcomer.PumpUntil([&] { return newcomer[0].lastState == 0x14; }, 5s));

  server.CloseStdin();
  EXPECT_EQ(server.ReadLine(30s), "stopped");
  EXPECT_EQ(server.Wait(30s), 0) << server.Stderr();
  std::printf("%ld attempts in %.1f s against %ld descriptors: %zu held and served\n",
              flood.attempts, flood.seconds, nofile, holding);
}

// Faults a user meets, against the real quavix-server on a PulseAudio daemon of the test's own:
// the sound server crashing and coming back, slow and stalled clients while the volume keeps
// changing through the sound server, and a connection flood under a low descriptor limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Flood.h"
#include "LoadSizes.h"
#include "fakes/Eventually.h"
#include "net/Protocol.h"
#include "support/ClientFleet.h"
#include "support/ProcessProbe.h"
#include "support/ServerUnderTest.h"
#include "support/SoundServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

uint8_t Byte(uint8_t muted, int32_t volume) {
  return EncodeStateByte({muted, volume});
}

// A private daemon and the real server on it, with its clients' bytes all read from here.
struct RealServer {
  explicit RealServer(long nofile = 0) {
    started = pulse.Start() && pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 40%");
    server = std::make_unique<ServerUnderTest>(
        QUAVIX_SERVER_PATH, FreeLoopbackPort(), nofile,
        std::vector<std::string>{"PULSE_SERVER=" + pulse.Server()});
    started = started && server->WaitServing();
  }
  soundserver::PrivatePulse pulse;
  std::unique_ptr<ServerUnderTest> server;
  bool started = false;
};

bool AllHold(const ClientFleet& fleet, uint8_t byte) {
  return fleet.CountWithState(byte) == fleet.Size();
}

}  // namespace

TEST(RealServerFaults, SoundServerCrashAndRestartReachEveryClient) {
  QUAVIX_NEED_SOUND_SERVER();
  const size_t clients = static_cast<size_t>(LoadSize(100, 1000));
  RealServer real;
  ASSERT_TRUE(real.started) << real.server->Stderr();
  const uint16_t port = real.server->Port();
  ClientFleet fleet;
  ASSERT_EQ(fleet.Connect(port, clients, 60s), clients);
  ASSERT_TRUE(fleet.PumpUntil([&] { return AllHold(fleet, Byte(0, 40)); }, 10s));

  real.pulse.Kill();
  // While the sound server is away a request has nowhere to go: it must do no harm.
  ASSERT_TRUE(fleet.Send(0, Byte(0, 10)));
  fleet.PumpUntil([] { return false; }, 1s);  // an absence can only be watched for a while
  EXPECT_TRUE(real.server->Running()) << real.server->Stderr();
  EXPECT_EQ(fleet.CountEnded(), 0u) << "clients were dropped while the sound server was away";

  ASSERT_TRUE(real.pulse.Start());
  const auto back = Clock::now();
  // The new daemon's sink starts unmuted at 100 %: the server reconnects on its own, reads it
  // and tells every client, also the one that asked while it was away.
  EXPECT_TRUE(fleet.PumpUntil([&] { return AllHold(fleet, Byte(0, 100)); }, 20s))
      << fleet.CountWithState(Byte(0, 100)) << " of " << clients << " heard the new state";
  const auto reconnected = Clock::now();
  EXPECT_EQ(soundserver::ChannelPercents("@DEFAULT_SINK@", real.pulse.Server()), "100 100")
      << "the request made while the sound server was away was applied later";

  // Notifications work again: a change made on the new daemon reaches everyone.
  ASSERT_TRUE(real.pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 60%"));
  EXPECT_TRUE(fleet.PumpUntil([&] { return AllHold(fleet, Byte(0, 60)); }, 10s));
  // And requests do: one client's change reaches the others.
  ASSERT_TRUE(fleet.Send(1, Byte(1, 25)));
  EXPECT_TRUE(
      fleet.PumpUntil([&] { return fleet.CountWithState(Byte(1, 25)) + 1 >= clients; }, 10s));
  EXPECT_EQ(fleet.CountEnded(), 0u);
  EXPECT_EQ(real.server->Stop(), 0);
  std::printf(
      "sound server restart: %zu clients had the new state %lld ms after it was back\n", clients,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(reconnected - back).count()));
}

// A frozen sound server must not freeze the program: requests keep arriving, and a port change
// and SIGTERM still finish promptly.
TEST(RealServerFaults, AFrozenSoundServerHoldsUpNeitherAPortChangeNorQuit) {
  QUAVIX_NEED_SOUND_SERVER();
  RealServer real;
  ASSERT_TRUE(real.started) << real.server->Stderr();
  ClientFleet fleet;
  ASSERT_EQ(fleet.Connect(real.server->Port(), 8, 20s), 8u);
  real.pulse.Pause();
  for (int i = 0; i < 50; ++i) fleet.Send(static_cast<size_t>(i % 8), Byte(0, 10 + i));

  const uint16_t moved = FreeLoopbackPort();
  StorePort(real.server->ConfigHome(), moved);
  const auto asked = Clock::now();
  real.server->Signal(SIGUSR1);
  ASSERT_TRUE(Eventually([&] { return ServerUnderTest::GreetsOn(moved); }, 10s))
      << real.server->Stderr();
  const auto portMoved = Clock::now();
  EXPECT_LT(portMoved - asked, 2s);

  const auto quit = Clock::now();
  EXPECT_EQ(real.server->Stop(5s), 0) << real.server->Stderr();
  EXPECT_LT(Clock::now() - quit, 2s);
  real.pulse.Resume();
  std::printf(
      "frozen sound server: port moved in %lld ms, quit in %lld ms\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(portMoved - asked).count()),
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quit).count()));
}

TEST(RealServerFaults, StalledClientsWhileTheSoundServerKeepsChanging) {
  QUAVIX_NEED_SOUND_SERVER();
  const size_t stalledCount = static_cast<size_t>(LoadSize(20, 100));
  const size_t readerCount = static_cast<size_t>(LoadSize(200, 1000));
  const long changes = LoadSize(3000, 100000);
  RealServer real;
  ASSERT_TRUE(real.started) << real.server->Stderr();
  const pid_t pid = real.server->Pid();
  ClientFleet stalled({.receiveBuffer = 1024});
  ClientFleet readers;
  ASSERT_EQ(stalled.Connect(real.server->Port(), stalledCount, 60s), stalledCount);
  ASSERT_EQ(readers.Connect(real.server->Port(), readerCount, 60s), readerCount);
  const long rssBefore = StatusKiB("VmRSS", pid);

  // The changes go through the sound server as a mixer's would (libpulse, not our backend); every
  // 100th waits for it, so the requests in flight stay bounded.
  std::atomic<bool> driven{false};
  std::atomic<bool> failed{false};
  Clock::time_point lastChange{};
  std::thread driver([&] {
    soundserver::SinkDriver pulse;
    if (!pulse.Connect(real.pulse.Server())) {
      failed.store(true);
      driven.store(true);
      return;
    }
    for (long i = 0; i < changes; ++i) {
      const int volume = static_cast<int>(i % 100);
      const bool muted = (i / 7) % 2 == 1;
      if (!pulse.Set(volume, muted, i % 100 == 99)) failed.store(true);
    }
    // The last state is one the loop never set (volume 100, muted).
    if (!pulse.Set(100, true, true)) failed.store(true);
    lastChange = Clock::now();
    driven.store(true);
  });
  const uint8_t finalByte = Byte(1, 100);
  const bool caughtUp = readers.PumpUntil(
      [&] { return driven.load() && readers.CountWithState(finalByte) == readerCount; }, 300s);
  driver.join();
  ASSERT_FALSE(failed.load()) << "the sound server did not take the changes";
  ASSERT_TRUE(caughtUp) << readers.CountWithState(finalByte) << " of " << readerCount
                        << " readers have the final state";
  Clock::duration slowest{};
  for (size_t i = 0; i < readers.Size(); ++i) {
    slowest = std::max(slowest, readers[i].lastStateAt - lastChange);
  }
  EXPECT_EQ(readers.CountEnded(), 0u) << "a reading client was dropped";
  const long rssAfter = StatusKiB("VmRSS", pid);
  // Nothing is queued per client: what a stalled client cannot take is not kept.
  EXPECT_LT(rssAfter - rssBefore, 64 * 1024) << "the server's memory grew with the backlog";
  EXPECT_TRUE(real.server->Running());
  // Which stalled clients the server has shut down: those read to the end of their stream.
  stalled.PumpUntil([&] { return stalled.CountEnded() == stalledCount; }, 5s);
  std::printf(
      "%ld changes through the sound server, %zu readers, %zu stalled: final state at the last "
      "reader %lld ms after the last change; %zu stalled clients shut down; server resident "
      "%ld -> %ld KiB\n",
      changes, readerCount, stalledCount,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()),
      stalled.CountEnded(), rssBefore, rssAfter);
}

TEST(RealServerFaults, ConnectionFloodUnderALowDescriptorLimit) {
  QUAVIX_NEED_SOUND_SERVER();
  const long nofile = FullLoadSizes() ? 1024 : 512;
  // Attempts cost the server little, so sanitizer builds make as many (its threads scale with
  // the descriptors it holds, which stay few).
  const long attempts = FullLoadSizes() ? 20000 : 4000;
  constexpr long kOverheadFds = 64;  // stdio, the listener, the sound-server connection, Qt
  RealServer real(nofile);
  ASSERT_TRUE(real.started) << real.server->Stderr();
  const uint16_t port = real.server->Port();

  ASSERT_TRUE(WarmUp(port, Byte(0, 21)));
  ClientFleet fleet;
  const size_t wantHeld = static_cast<size_t>(nofile - kOverheadFds);
  const FloodResult flood =
      Flood(fleet, port, attempts, 4000, wantHeld, [&] { return real.server->Running(); });
  ASSERT_TRUE(flood.serverSurvived) << real.server->Stderr();
  const size_t holding = fleet.CountLive();
  EXPECT_GE(holding, wantHeld);

  // Serves those it holds: a request goes through the sound server and back to all of them.
  size_t sender = 0;
  while (!(fleet[sender].fd >= 0 && fleet[sender].greeted)) ++sender;
  ASSERT_TRUE(fleet.Send(sender, Byte(0, 20)));
  EXPECT_TRUE(
      fleet.PumpUntil([&] { return fleet.CountWithState(Byte(0, 20)) + 1 >= holding; }, 30s))
      << fleet.CountWithState(Byte(0, 20)) << " of " << holding - 1 << " heard the change";

  fleet.CloseAll(true);
  ClientFleet newcomer;
  EXPECT_EQ(newcomer.Connect(port, 1, 20s), 1u) << "no accept after descriptors freed up";
  EXPECT_TRUE(newcomer.PumpUntil([&] { return newcomer[0].lastState == Byte(0, 20); }, 5s));
  EXPECT_EQ(real.server->Stop(), 0);
  std::printf("real server under ulimit -n %ld: %ld attempts in %.1f s, %zu held and served\n",
              nofile, flood.attempts, flood.seconds, holding);
}

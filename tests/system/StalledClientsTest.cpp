// Slow and stalled clients at scale: clients that never read, with small receive buffers,
// beside many that do, while the volume keeps changing far past the point where the stalled
// clients' buffers are full. Readers must keep getting the final state, no broadcast may wait
// on a stalled client, and the stalled ones must be shut down.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "LoadSizes.h"
#include "net/Protocol.h"
#include "support/ClientFleet.h"
#include "support/ProcessProbe.h"
#include "support/RelayedServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The states the driver steps through; never kFinal, so a reader holding kFinal has seen the
// very last change and not an earlier equal one.
VolumeState Step(long i) {
  return {static_cast<uint8_t>((i / 7) & 1), static_cast<int32_t>(i % 100)};
}
constexpr VolumeState kFinal{1, 100};

}  // namespace

TEST(StalledClients, ReadersKeepUpAndStalledClientsAreShutDown) {
  // Every change is a pass over all clients, so the full size is bounded by this machine's
  // send rate; the real server's test drives ten times more through the sound server.
  const long stalledCount = LoadSize(40, 100);
  const long readerCount = LoadSize(200, 500);
  const long changes = LoadSize(4000, 5000);
  RelayedServer wired;
  const uint16_t port = wired.Listen();
  ASSERT_NE(port, 0);

  ClientFleet stalled({.receiveBuffer = 1024});  // greeted, then never read again
  ClientFleet readers;
  ASSERT_EQ(stalled.Connect(port, stalledCount, 60s), static_cast<size_t>(stalledCount));
  ASSERT_EQ(readers.Connect(port, readerCount, 60s), static_cast<size_t>(readerCount));
  // Greeted clients are listed a moment later.
  ASSERT_TRUE(readers.PumpUntil(
      [&] { return wired.server.ClientCount() == static_cast<size_t>(stalledCount + readerCount); },
      10s));

  // The driver reports changes as the audio thread does; each report runs a broadcast pass.
  std::atomic<long> reported{0};
  std::atomic<long long> slowestPassUs{0};
  Clock::time_point finalAt{};
  std::atomic<bool> finalReported{false};
  std::thread driver([&] {
    for (long i = 0; i <= changes; ++i) {
      const VolumeState state = i < changes ? Step(i) : kFinal;
      const auto begin = Clock::now();
      wired.volume.Report(state);
      const auto end = Clock::now();
      const long long us =
          std::chrono::duration_cast<std::chrono::microseconds>(end - begin).count();
      if (us > slowestPassUs.load()) slowestPassUs.store(us);
      reported.store(i + 1);
      if (i == changes) {
        finalAt = begin;
        finalReported.store(true);
      }
      // Reading clients are pumped by this test's one thread; let it keep pace now and then.
      if (i % 64 == 0) std::this_thread::yield();
    }
  });
  const uint8_t finalByte = EncodeStateByte(kFinal);
  const auto allHaveFinal = [&] {
    return readers.CountWithState(finalByte) == static_cast<size_t>(readerCount);
  };
  const bool readersCaughtUp = readers.PumpUntil(allHaveFinal, 400s);
  if (!readersCaughtUp) wired.server.Stop();  // unblocks a broadcast stuck on a full socket
  driver.join();
  ASSERT_TRUE(readersCaughtUp) << readers.CountWithState(finalByte) << " of " << readerCount
                               << " readers have the final state after " << reported.load()
                               << " changes (" << readers.CountEnded() << " readers ended)";
  ASSERT_TRUE(finalReported.load());
  Clock::duration slowestReader{};
  for (size_t i = 0; i < readers.Size(); ++i) {
    slowestReader = std::max(slowestReader, readers[i].lastStateAt - finalAt);
  }
  EXPECT_EQ(readers.CountEnded(), 0u) << "a reading client was dropped";
  for (size_t i = 0; i < readers.Size(); ++i) {
    ASSERT_EQ(readers[i].invalidBytes, 0u) << "reader " << i;
  }

  // Stalled clients whose sockets could still take bytes stay; any that were shut down must
  // be gone from the list.
  const size_t stalledLeft = wired.server.ClientCount() - static_cast<size_t>(readerCount);
  EXPECT_LE(stalledLeft, static_cast<size_t>(stalledCount));
  std::printf(
      "%ld changes to %ld readers and %ld stalled clients (%zu still listed); slowest broadcast "
      "pass %lld us; final state at the last reader %lld ms after the change\n",
      changes, readerCount, stalledCount, stalledLeft, slowestPassUs.load(),
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(slowestReader).count()));
}

TEST(StalledClients, AStalledClientIsShutDownOnceItsSocketIsFull) {
  // However large the kernel lets the server's send buffer grow, changes keep coming until it
  // is full; then the server must shut the client down rather than wait or queue.
  constexpr size_t kStalled = 2;
  const long maxChanges = 100000;  // its buffers hold a few thousand bytes (ShrinkBuffers)
  RelayedServer wired;
  const uint16_t port = wired.Listen();
  ASSERT_NE(port, 0);
  ClientFleet stalled({.receiveBuffer = 1024});
  ClientFleet reader;
  ASSERT_EQ(stalled.Connect(port, kStalled, 10s), kStalled);
  ASSERT_EQ(reader.Connect(port, 1, 10s), 1u);
  ASSERT_TRUE(reader.PumpUntil([&] { return wired.server.ClientCount() == kStalled + 1; }, 10s));

  std::atomic<bool> stop{false};
  std::atomic<long> made{0};
  std::thread driver([&] {
    for (long i = 0; i < maxChanges && !stop.load(); ++i) {
      wired.volume.Report(Step(i));
      made.store(i + 1);
    }
  });
  const bool shutDown = reader.PumpUntil([&] { return wired.server.ClientCount() == 1; }, 240s);
  stop.store(true);
  driver.join();
  ASSERT_TRUE(shutDown) << "stalled clients still listed after " << made.load() << " changes";

  wired.volume.Report(kFinal);
  EXPECT_TRUE(
      reader.PumpUntil([&] { return reader[0].lastState == EncodeStateByte(kFinal); }, 10s));
  EXPECT_EQ(reader.CountEnded(), 0u);
  // What was handed to their sockets is still readable, then the stream ends.
  EXPECT_TRUE(stalled.PumpUntil([&] { return stalled.CountEnded() == kStalled; }, 30s));
  std::printf("stalled clients shut down after %ld changes (%llu state bytes reached one)\n",
              made.load(), static_cast<unsigned long long>(stalled[0].stateBytes));
}

// Drives the in-process server over loopback TCP with a swarm of clients and prints a table:
// change-to-byte latency with many quiet clients, memory per held client, and accept rate.
//   net_bench [latencyClients=1000] [heldClients=10000] [changes=200]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <semaphore>
#include <thread>

#include "ClientSwarm.h"
#include "fakes/FakeVolumeControl.h"
#include "net/IRetryTimer.h"
#include "net/NetworkServer.h"
#include "net/Protocol.h"
#include "net/VolumeRelay.h"
#include "net/linux/OpenFileLimit.h"

namespace {

using Clock = ClientSwarm::Clock;
using Micros = std::chrono::duration<double, std::micro>;

class NoRetryTimer final : public IRetryTimer {
 public:
  void Arm() override {}
};

// Reports changes from its own thread, as an audio system's notification thread would, so the
// swarm reads while the broadcast is still sending.
class Reporter {
 public:
  explicit Reporter(FakeVolumeControl& volume) : volume_(volume), thread_([this] { Run(); }) {}
  ~Reporter() {
    stop_ = true;
    go_.release();
    thread_.join();
  }
  void Report(VolumeState state) {
    state_ = state;
    go_.release();
  }

 private:
  void Run() {
    for (;;) {
      go_.acquire();
      if (stop_) return;
      volume_.Report(state_);
    }
  }
  FakeVolumeControl& volume_;
  std::binary_semaphore go_{0};
  std::atomic<bool> stop_{false};
  VolumeState state_;  // handed over through the semaphore
  std::thread thread_;
};

struct Latency {
  double p50 = 0, p99 = 0, max = 0;
  size_t samples = 0, expected = 0;
};

Latency MeasureChanges(ClientSwarm& swarm, Reporter& reporter, int changes, int& next) {
  std::vector<Clock::duration> all;
  Latency result;
  for (int i = 0; i < changes; ++i) {
    const VolumeState state{0, next};
    next = next >= 100 ? 1 : next + 1;
    const auto since = Clock::now();
    reporter.Report(state);
    auto latencies = swarm.AwaitByte(EncodeStateByte(state), since, std::chrono::seconds(5));
    result.expected += swarm.Size();
    all.insert(all.end(), latencies.begin(), latencies.end());
  }
  if (all.empty()) return result;
  std::sort(all.begin(), all.end());
  auto at = [&](double q) {
    return Micros(all[std::min(all.size() - 1, static_cast<size_t>(q * all.size()))]).count();
  };
  result.p50 = at(0.50);
  result.p99 = at(0.99);
  result.max = Micros(all.back()).count();
  result.samples = all.size();
  return result;
}

double AcceptRate(ClientSwarm& swarm, size_t count, size_t& greeted) {
  const auto start = Clock::now();
  // The state differs from the default, so each greeting is followed by a state byte.
  greeted = swarm.Connect(count, 4, 5, std::chrono::seconds(60));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return greeted / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t latencyClients = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const size_t heldClients = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
  const int changes = argc > 3 ? std::atoi(argv[3]) : 200;
  if (!RaiseOpenFileLimit()) std::fprintf(stderr, "could not raise the open-file limit\n");

  FakeVolumeControl volume;
  volume.SetDeviceState({0, 50});
  NoRetryTimer retry;
  NetworkServer server(SystemClock());
  MyClientListener relay(server, retry);
  server.SetStateSource(&volume);
  server.SetExternalListener(&relay);
  volume.SetChangeCallback(&OnVolumeChanged, 0);
  SetVolumeChangedRelay(&relay);
  if (!server.BindAndListen(0) || !server.Start()) {
    std::fprintf(stderr, "server did not start\n");
    return 1;
  }
  Reporter reporter(volume);
  ClientSwarm swarm("127.0.0.1", server.ListeningPort());
  const size_t residentBefore = ResidentBytes();

  size_t greeted = 0;
  const double rate = AcceptRate(swarm, latencyClients, greeted);
  int next = 1;
  MeasureChanges(swarm, reporter, 10, next);  // warm-up
  const Latency latency = MeasureChanges(swarm, reporter, changes, next);

  size_t moreGreeted = 0;
  const size_t more = heldClients > swarm.Size() ? heldClients - swarm.Size() : 0;
  const double heldRate = AcceptRate(swarm, more, moreGreeted);
  const size_t held = server.ClientCount();
  const size_t residentAfter = ResidentBytes();
  const Latency heldLatency = MeasureChanges(swarm, reporter, 20, next);

  const auto stopStart = Clock::now();
  volume.SetChangeCallback(nullptr, 0);
  SetVolumeChangedRelay(nullptr);
  server.Stop();
  const double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count();

  std::printf("%-44s %14s %s\n", "measure", "value", "target");
  std::printf("%-44s %14zu\n", "clients for latency", greeted);
  std::printf("%-44s %14.0f %s\n", "change-to-byte p50 (us)", latency.p50, "");
  std::printf("%-44s %14.0f %s\n", "change-to-byte p99 (us)", latency.p99, "<= 10000");
  std::printf("%-44s %14.0f\n", "change-to-byte max (us)", latency.max);
  std::printf("%-44s %8zu/%-5zu\n", "bytes received / expected", latency.samples, latency.expected);
  std::printf("%-44s %14.0f %s\n", "accept rate, first clients (clients/s)", rate, ">= 5000");
  std::printf("%-44s %14.0f %s\n", "accept rate, up to held count (clients/s)", heldRate,
              ">= 5000");
  std::printf("%-44s %14zu %s\n", "clients held", held, ">= 10000");
  const double perClient =
      held > 0 ? static_cast<double>(residentAfter - residentBefore) / held / 1024.0 : 0;
  std::printf("%-44s %14.1f %s\n", "server RSS per held client (KiB)", perClient, "<= 64");
  std::printf("%-44s %14.0f\n", "change-to-byte p99, all held (us)", heldLatency.p99);
  std::printf("%-44s %8zu/%-5zu\n", "bytes received / expected, all held", heldLatency.samples,
              heldLatency.expected);
  std::printf("%-44s %14.1f\n", "Stop with all held (ms)", stopMs);
  return 0;
}

// The running program measured from outside: the real quavix-server on the fixture's private
// PulseAudio, driven by an epoll client swarm and a libpulse client of its own.
//
//   system_bench --server PATH [--out FILE] [--sizes 1,100,1000,10000] [--idle-seconds 60]
//                [--burst 2000] [--rounds N] [--idle-at 1000]
//
// For each number N of quiet clients: a change made on the sound server, and a change asked
// for by one more client, timed from the request to the state byte's arrival at each of the N
// clients (the kernel's receive stamp; p50 / p99 / max over every client and round), and to the
// moment the swarm read it; the accept rate while connecting
// them; the server's resident memory per client. First, a burst: --burst clients connect all at
// once (as after a restart), and the time until every one has its greeting. With 1,000 clients, the
// server's CPU use and wake-ups over an idle minute (--idle-at picks another N). --rounds fixes
// the rounds per N (else more for small N). Results go to --out as JSON (bench/system/report.py
// turns them into docs/BENCHMARKS.md and the plot). Exits 1 when a client was not greeted, a
// change did not reach every client, or the server did not end cleanly.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/Protocol.h"
#include "support/ClientFleet.h"
#include "support/ProcessProbe.h"
#include "support/ServerUnderTest.h"
#include "support/SoundServer.h"
#include "support/TestClient.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
  std::string server;
  std::string out = "system-bench.json";
  std::vector<size_t> sizes = {1, 100, 1000, 10000};
  int idleSeconds = 60;
  size_t burst = 2000;
  int rounds = 0;  // 0: RoundsFor(n)
  size_t idleAt = 1000;
};

struct Latency {
  double p50 = 0, p99 = 0, max = 0;
  size_t samples = 0, missed = 0;
};

Latency Summarise(std::vector<double>& ms, size_t missed) {
  Latency result;
  result.samples = ms.size();
  result.missed = missed;
  if (ms.empty()) return result;
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) {
    return ms[std::min(ms.size() - 1, static_cast<size_t>(q * ms.size()))];
  };
  result.p50 = at(0.50);
  result.p99 = at(0.99);
  result.max = ms.back();
  return result;
}

std::string Json(const Latency& l) {
  char text[200];
  std::snprintf(text, sizeof text,
                "{\"p50_ms\": %.3f, \"p99_ms\": %.3f, \"max_ms\": %.3f, \"samples\": %zu, "
                "\"missed\": %zu}",
                l.p50, l.p99, l.max, l.samples, l.missed);
  return text;
}

// Rounds per size: enough samples at small N, bounded time at large N.
int RoundsFor(size_t n) {
  return n <= 1 ? 200 : n <= 100 ? 100 : n <= 1000 ? 40 : 20;
}

// Milliseconds per client byte, both ways of timing it.
struct Samples {
  std::vector<double> arrived, read;
  size_t missed = 0;

  void Add(const std::vector<ClientFleet::Arrival>& got, size_t expected) {
    missed += expected - got.size();
    for (const auto& a : got) {
      arrived.push_back(std::chrono::duration<double, std::milli>(a.arrived).count());
      read.push_back(std::chrono::duration<double, std::milli>(a.read).count());
    }
  }
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--server") {
      options->server = value;
    } else if (name == "--out") {
      options->out = value;
    } else if (name == "--burst") {
      options->burst = std::strtoul(value.c_str(), nullptr, 10);
    } else if (name == "--rounds") {
      options->rounds = std::atoi(value.c_str());
    } else if (name == "--idle-at") {
      options->idleAt = std::strtoul(value.c_str(), nullptr, 10);
    } else if (name == "--idle-seconds") {
      options->idleSeconds = std::atoi(value.c_str());
    } else if (name == "--sizes") {
      options->sizes.clear();
      for (size_t start = 0; start < value.size();) {
        const size_t comma = value.find(',', start);
        options->sizes.push_back(
            std::strtoul(value.substr(start, comma - start).c_str(), nullptr, 10));
        start = comma == std::string::npos ? value.size() : comma + 1;
      }
    } else {
      return false;
    }
  }
  return !options->server.empty() && argc % 2 == 1;
}

// The one-minute load average, to record how busy the machine was; -1 when unknown.
double LoadAverage() {
  double load = -1;
  if (FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(file, "%lf", &load) != 1) load = -1;
    std::fclose(file);
  }
  return load;
}

}  // namespace

int main(int argc, char** argv) {
  const double loadAtStart = LoadAverage();
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: system_bench --server PATH [--out FILE] [--sizes 1,100,...] "
                 "[--idle-seconds S] [--burst N] [--rounds N] [--idle-at N]\n");
    return 2;
  }
  soundserver::SinkDriver pulse;
  if (!pulse.Connect() || !pulse.Set(50, false, true)) {
    std::fprintf(stderr, "system_bench: no sound server (run under tests/fixtures)\n");
    return 1;
  }
  ServerUnderTest server(options.server, FreeLoopbackPort());
  if (!server.WaitServing()) {
    std::fprintf(stderr, "system_bench: the server did not start: %s\n", server.Stderr().c_str());
    return 1;
  }
  const pid_t pid = server.Pid();
  std::this_thread::sleep_for(500ms);  // let start-up settle before the baseline reading
  const long baseRssKiB = StatusKiB("VmRSS", pid);
  std::printf("server pid %d on port %u, %ld KiB resident with no client\n", pid, server.Port(),
              baseRssKiB);

  // The swarm stands in for clients on other machines: on this thread only (the server, the
  // sound server and the driver's thread keep their priority) it yields the cores to the server
  // under test. Arrival is stamped by the kernel, so reading later does not change it.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  std::string burstJson = "null";
  bool complete = true;  // every client greeted, every change received
  if (options.burst > 0) {
    // Every connect fired in one go, nothing paced; then they all leave again.
    ClientFleet burst;
    const auto start = Clock::now();
    const size_t greeted = burst.Connect(server.Port(), options.burst, 60s, SIZE_MAX);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("burst of %zu connects at once: %zu greeted, the last after %.0f ms\n",
                options.burst, greeted, ms);
    complete = complete && greeted == options.burst;
    char entry[200];
    std::snprintf(entry, sizeof entry, "{\"clients\": %zu, \"greeted\": %zu, \"ms\": %.1f}",
                  options.burst, greeted, ms);
    burstJson = entry;
  }

  ClientFleet swarm({.stampArrivals = true});
  std::string sizesJson;
  std::string idleJson = "null";
  int volume = 50;
  auto nextVolume = [&] {
    volume = volume >= 90 ? 11 : volume + 1;  // never 50 (the start), never the greeting bytes
    return volume;
  };
  for (size_t n : options.sizes) {
    const size_t before = swarm.CountLive();
    const auto connectStart = Clock::now();
    const size_t greeted = swarm.Connect(server.Port(), n - before, 300s);
    const double connectSeconds =
        std::chrono::duration<double>(Clock::now() - connectStart).count();
    const double acceptRate = greeted / connectSeconds;
    std::this_thread::sleep_for(1s);  // the last readers get going before memory is read
    const long rssKiB = StatusKiB("VmRSS", pid);
    const long threads = CountThreads(pid);
    std::printf("N=%zu: %zu clients held, %.0f accepted/s, %ld KiB resident, %ld threads\n",
                swarm.CountLive(), swarm.CountLive(), acceptRate, rssKiB, threads);
    if (swarm.CountLive() < n) {
      std::printf("  only %zu of %zu clients were greeted\n", swarm.CountLive(), n);
      complete = false;
    }

    Samples serverSamples, requestSamples;
    const int rounds = options.rounds > 0 ? options.rounds : RoundsFor(n);
    for (int r = 0; r < rounds; ++r) {
      const int v = nextVolume();
      const auto t0 = Clock::now();
      pulse.Set(v, false, false);
      serverSamples.Add(swarm.AwaitByte(EncodeStateByte({0, v}), t0, 10s), swarm.CountLive());
    }
    {
      // A client of our own that asks for states (it is not one of the timed clients).
      TestClient requester(server.Port());
      const int one = 1;
      setsockopt(static_cast<int>(requester.Handle()), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::this_thread::sleep_for(200ms);  // listed before it asks
      for (int r = 0; r < rounds; ++r) {
        const int v = nextVolume();
        const auto t0 = Clock::now();
        requester.Send({EncodeStateByte({0, v})});
        requestSamples.Add(swarm.AwaitByte(EncodeStateByte({0, v}), t0, 10s), swarm.CountLive());
      }
    }
    const Latency fromServer = Summarise(serverSamples.arrived, serverSamples.missed);
    const Latency fromClient = Summarise(requestSamples.arrived, requestSamples.missed);
    const Latency fromServerRead = Summarise(serverSamples.read, serverSamples.missed);
    const Latency fromClientRead = Summarise(requestSamples.read, requestSamples.missed);
    auto print = [](const char* path, const Latency& arrived, const Latency& read) {
      std::printf(
          "  %-20s p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu missed); read by the "
          "swarm: p50 %.2f, p99 %.2f, max %.2f ms\n",
          path, arrived.p50, arrived.p99, arrived.max, arrived.missed, read.p50, read.p99,
          read.max);
    };
    complete = complete && serverSamples.missed == 0 && requestSamples.missed == 0;
    print("sound-server change:", fromServer, fromServerRead);
    print("client request:", fromClient, fromClientRead);
    const double perClientKiB =
        swarm.CountLive() > 0 ? static_cast<double>(rssKiB - baseRssKiB) / swarm.CountLive() : 0;
    char entry[2048];
    std::snprintf(entry, sizeof entry,
                  "%s    {\"n\": %zu, \"held\": %zu, \"accept_per_s\": %.0f, \"rss_kib\": %ld, "
                  "\"rss_per_client_kib\": %.2f, \"threads\": %ld,\n"
                  "     \"server_change\": %s,\n     \"client_request\": %s,\n"
                  "     \"server_change_read\": %s,\n     \"client_request_read\": %s}",
                  sizesJson.empty() ? "" : ",\n", n, swarm.CountLive(), acceptRate, rssKiB,
                  perClientKiB, threads, Json(fromServer).c_str(), Json(fromClient).c_str(),
                  Json(fromServerRead).c_str(), Json(fromClientRead).c_str());
    sizesJson += entry;

    if (n == options.idleAt && options.idleSeconds > 0) {
      std::this_thread::sleep_for(1s);
      const long long ticks0 = CpuTicks(pid), switches0 = ContextSwitches(pid);
      std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
      const long long ticks1 = CpuTicks(pid), switches1 = ContextSwitches(pid);
      const double cpuPercent = 100.0 * static_cast<double>(ticks1 - ticks0) /
                                static_cast<double>(sysconf(_SC_CLK_TCK)) / options.idleSeconds;
      const double wakeupsPerSecond =
          static_cast<double>(switches1 - switches0) / options.idleSeconds;
      std::printf("  idle %d s with %zu clients: %.3f %% of one core, %.1f wake-ups/s\n",
                  options.idleSeconds, swarm.CountLive(), cpuPercent, wakeupsPerSecond);
      char idle[256];
      std::snprintf(idle, sizeof idle,
                    "{\"clients\": %zu, \"seconds\": %d, \"cpu_percent\": %.4f, "
                    "\"wakeups_per_s\": %.2f}",
                    swarm.CountLive(), options.idleSeconds, cpuPercent, wakeupsPerSecond);
      idleJson = idle;
    }
  }
  swarm.CloseAll();
  const int exitCode = server.Stop();
  std::printf("server stopped with exit code %d\n", exitCode);

  FILE* out = std::fopen(options.out.c_str(), "w");
  if (out == nullptr) {
    std::perror(options.out.c_str());
    return 1;
  }
  std::fprintf(out,
               "{\n  \"loadavg_at_start\": %.2f,\n  \"base_rss_kib\": %ld,\n  \"burst\": %s,\n"
               "  \"sizes\": [\n%s\n  ],\n  \"idle\": %s,\n"
               "  \"server_exit\": %d\n}\n",
               loadAtStart, baseRssKiB, burstJson.c_str(), sizesJson.c_str(), idleJson.c_str(),
               exitCode);
  std::fclose(out);
  return complete && exitCode == 0 ? 0 : 1;
}

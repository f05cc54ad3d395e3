// Drives the server over loopback TCP with a swarm of clients and prints a table:
// change-to-byte latency with many quiet clients, memory per held client, and accept rate, paced
// and in one unpaced burst (every client reconnecting at once after a restart or port change).
//   net_bench [latencyClients=1000] [heldClients=10000] [changes=200] [burstClients=2000]
// Exits 1 when a client was not greeted or a change did not reach every client.
// (bench/smoke.sh runs it with a handful of clients and one change.)
//
// The server and the swarm run in two processes (forked before any thread exists), so each has
// its own descriptor limit and the server's resident memory is measured alone. The swarm
// process steers the server process over a pair of pipes.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "net/Protocol.h"
#include "net/Socket.h"
#include "net/linux/OpenFileLimit.h"
#include "support/ClientFleet.h"
#include "support/ProcessProbe.h"
#include "support/RelayedServer.h"
#include "support/TestClient.h"

namespace {

using Clock = ClientFleet::Clock;
using Micros = std::chrono::duration<double, std::micro>;

// Commands from the swarm to the server process; each is one byte, some followed by one more.
constexpr char kReport = 'R';   // + state byte: the device reports this state
constexpr char kMeasure = 'M';  // reply: resident bytes and listed clients
constexpr char kStop = 'S';     // reply: milliseconds Stop took; the server process ends

struct Reply {
  uint64_t residentBytes = 0;
  uint64_t clients = 0;
  double stopMs = 0;
  double broadcastUs = 0;  // mean time of one broadcast pass since the last measure
  uint16_t port = 0;
};

bool WriteAll(int fd, const void* data, size_t size) {
  return write(fd, data, size) == static_cast<ssize_t>(size);
}
bool ReadAll(int fd, void* data, size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

int RunServer(int commands, int replies) {
  RelayedServer wired;
  wired.volume.SetDeviceState({0, 50});
  Reply reply;
  reply.port = wired.Listen();
  WriteAll(replies, &reply, sizeof reply);
  if (reply.port == 0) return 1;

  Clock::duration broadcastTime{};
  uint64_t broadcasts = 0;
  // This loop is the "audio thread": a report runs the broadcast right here.
  for (char command; ReadAll(commands, &command, 1);) {
    if (command == kReport) {
      uint8_t byte = 0;
      ReadAll(commands, &byte, 1);
      VolumeState state;
      DecodeClientByte(byte, &state);
      const auto begin = Clock::now();
      wired.volume.Report(state);
      broadcastTime += Clock::now() - begin;
      ++broadcasts;
    } else if (command == kMeasure) {
      reply.residentBytes = static_cast<uint64_t>(StatusKiB("VmRSS")) * 1024;
      reply.clients = wired.server.ClientCount();
      reply.broadcastUs =
          broadcasts ? Micros(broadcastTime).count() / static_cast<double>(broadcasts) : 0;
      broadcastTime = {};
      broadcasts = 0;
      WriteAll(replies, &reply, sizeof reply);
    } else if (command == kStop) {
      break;
    }
  }
  const auto start = Clock::now();
  wired.server.Stop();
  reply.stopMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  WriteAll(replies, &reply, sizeof reply);
  return 0;
}

class ServerProcess {
 public:
  ServerProcess(int commands, int replies) : commands_(commands), replies_(replies) {}
  void Report(uint8_t byte) {
    const char message[2] = {kReport, static_cast<char>(byte)};
    WriteAll(commands_, message, 2);
  }
  Reply Ask(char command) {
    Reply reply;
    WriteAll(commands_, &command, 1);
    ReadAll(replies_, &reply, sizeof reply);
    return reply;
  }

 private:
  int commands_, replies_;
};

struct Latency {
  double p50 = 0, p99 = 0, max = 0;
  size_t samples = 0, expected = 0;
};

Latency MeasureChanges(ClientFleet& swarm, ServerProcess& server, int changes, int& next) {
  std::vector<Clock::duration> all;
  Latency result;
  for (int i = 0; i < changes; ++i) {
    const uint8_t byte = EncodeStateByte(VolumeState{0, next});
    next = next >= 100 ? 1 : next + 1;
    const auto since = Clock::now();
    server.Report(byte);
    result.expected += swarm.CountLive();
    for (const auto& arrival : swarm.AwaitByte(byte, since, std::chrono::seconds(5))) {
      all.push_back(arrival.arrived);
    }
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

// Clients greeted per second (the state byte follows the greeting at once). At most
// `window` connects are in flight (SIZE_MAX: all of them at once).
double AcceptRate(ClientFleet& swarm, uint16_t port, size_t count, size_t window, size_t& greeted) {
  const auto start = Clock::now();
  greeted = swarm.Connect(port, count, std::chrono::seconds(60), window);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return seconds > 0 ? greeted / seconds : 0;
}

// The kernel's own cost: one pass of 1-byte sends over `count` idle loopback TCP connections,
// with nothing of ours in between. The floor under the server's broadcast pass.
double RawSendPassMicros(size_t count, int passes) {
  SocketHandle listening = kInvalidSocket;
  if (OpenListener(nullptr, 0, &listening) != ListenResult::Listening) return 0;
  Socket listener(listening);
  std::vector<TestClient> clients;
  std::vector<Socket> accepted;
  while (accepted.size() < count) {
    clients.emplace_back();
    if (!clients.back().Connect(LocalPort(listener.Get()))) return 0;
    SocketHandle handle = kInvalidSocket;
    if (AcceptClient(listener.Get(), &handle) != AcceptResult::Accepted) return 0;
    SetNoDelay(handle);
    accepted.emplace_back(handle);
  }
  Clock::duration total{};
  uint8_t byte = 1;
  for (int pass = 0; pass < passes; ++pass) {
    const auto start = Clock::now();
    for (const Socket& socket : accepted) SendNow(socket.Get(), &byte, 1);
    total += Clock::now() - start;
    for (TestClient& client : clients) client.ReadByte();
  }
  return Micros(total).count() / passes;
}

void PrintLatency(const char* name, const Latency& latency, bool withTarget) {
  std::printf("%-46s %12.0f\n", (std::string(name) + " p50 (us)").c_str(), latency.p50);
  std::printf("%-46s %12.0f %s\n", (std::string(name) + " p99 (us)").c_str(), latency.p99,
              withTarget ? "<= 10000" : "");
  std::printf("%-46s %12.0f\n", (std::string(name) + " max (us)").c_str(), latency.max);
  std::printf("%-46s %12s\n", "  bytes received / expected",
              (std::to_string(latency.samples) + "/" + std::to_string(latency.expected)).c_str());
}

int RunSwarm(ServerProcess& server, uint16_t port, size_t latencyClients, size_t heldClients,
             int changes, size_t burstClients) {
  ClientFleet swarm({.stampArrivals = true});
  const Reply before = server.Ask(kMeasure);

  // Every connect fired in one go, before anything else is connected; then they all leave.
  size_t burstGreeted = 0;
  double burstMs = 0;
  {
    ClientFleet burst;
    const auto burstStart = Clock::now();
    AcceptRate(burst, port, burstClients, SIZE_MAX, burstGreeted);
    burstMs = std::chrono::duration<double, std::milli>(Clock::now() - burstStart).count();
  }

  size_t greeted = 0;
  const double rate = AcceptRate(swarm, port, latencyClients, 4, greeted);
  int next = 1;
  MeasureChanges(swarm, server, std::min(changes, 10), next);  // warm-up
  const Latency latency = MeasureChanges(swarm, server, changes, next);

  const Reply afterLatency = server.Ask(kMeasure);
  size_t moreGreeted = 0;
  const size_t more = heldClients > swarm.CountLive() ? heldClients - swarm.CountLive() : 0;
  const double heldRate = AcceptRate(swarm, port, more, 4, moreGreeted);
  const Reply held = server.Ask(kMeasure);
  const Latency heldLatency = MeasureChanges(swarm, server, std::min(changes, 20), next);
  const Reply afterHeld = server.Ask(kMeasure);
  const Reply stopped = server.Ask(kStop);
  swarm.CloseAll();
  const double rawPass = RawSendPassMicros(latencyClients, 20);

  const double perClient =
      held.clients > 0
          ? (static_cast<double>(held.residentBytes) - static_cast<double>(before.residentBytes)) /
                static_cast<double>(held.clients) / 1024.0
          : 0;
  std::printf("%-46s %12s %s\n", "measure", "value", "target");
  std::printf("%-46s %12zu\n", "clients for latency", greeted);
  PrintLatency("change-to-byte", latency, true);
  std::printf("%-46s %12.0f\n", "  server's broadcast pass, mean (us)", afterLatency.broadcastUs);
  std::printf("%-46s %12.0f\n", "  kernel alone: same pass without a server (us)", rawPass);
  std::printf("%-46s %12.0f %s\n", "accept rate to latency clients (clients/s)", rate, ">= 5000");
  std::printf("%-46s %12.0f %s\n", "accept rate to held clients (clients/s)", heldRate, ">= 5000");
  std::printf("%-46s %12zu\n", "burst: clients connecting at once", burstClients);
  std::printf("%-46s %12zu %s\n", "burst: greeted with the state", burstGreeted, "= all");
  std::printf("%-46s %12.0f\n", "burst: all greeted (ms)", burstMs);
  std::printf("%-46s %12llu %s\n", "clients held by the server",
              static_cast<unsigned long long>(held.clients), ">= 10000");
  std::printf("%-46s %12.1f %s\n", "server RSS per held client (KiB)", perClient, "<= 64");
  std::printf("%-46s %12.1f\n", "server RSS with all held (MiB)",
              static_cast<double>(held.residentBytes) / (1024.0 * 1024.0));
  PrintLatency("all held, change-to-byte", heldLatency, false);
  std::printf("%-46s %12.0f\n", "  server's broadcast pass, mean (us)", afterHeld.broadcastUs);
  std::printf("%-46s %12.1f\n", "Stop with all held (ms)", stopped.stopMs);
  const bool complete = greeted == latencyClients && burstGreeted == burstClients &&
                        moreGreeted == more && latency.samples == latency.expected &&
                        heldLatency.samples == heldLatency.expected;
  if (!complete) std::fprintf(stderr, "net_bench: a client was not greeted or missed a change\n");
  return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t latencyClients = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const size_t heldClients = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
  const int changes = argc > 3 ? std::atoi(argv[3]) : 200;
  const size_t burstClients = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 2000;
  if (!RaiseOpenFileLimit()) std::fprintf(stderr, "could not raise the open-file limit\n");

  int commands[2], replies[2];
  if (pipe(commands) != 0 || pipe(replies) != 0) return 1;
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    close(commands[1]);
    close(replies[0]);
    _exit(RunServer(commands[0], replies[1]));
  }
  close(commands[0]);
  close(replies[1]);
  Reply first;
  if (!ReadAll(replies[0], &first, sizeof first) || first.port == 0) {
    std::fprintf(stderr, "server did not start\n");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 1;
  }
  ServerProcess server(commands[1], replies[0]);
  const int result =
      RunSwarm(server, first.port, latencyClients, heldClients, changes, burstClients);
  close(commands[1]);  // the server process ends on kStop, or at the latest now
  waitpid(child, nullptr, 0);
  return result;
}

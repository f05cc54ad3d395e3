#pragma once
// Many loopback clients of a volume server driven from one thread with epoll, for tests and
// benchmarks alike: connect them paced or in one burst, check their greetings, follow the state
// bytes each one receives, time a byte's way to all of them, and see which ones the server
// ended. A fleet that is never pumped is a fleet of clients that never read. Source addresses
// rotate over 127.0.0.0/8 so that heavy churn does not run out of ephemeral ports while old
// connections linger in TIME_WAIT. Not thread-safe: one thread uses a fleet.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FleetOptions {
  // > 0: clients that stop reading fill up after a few thousand bytes (see
  // testsocket::ShrinkBuffers).
  int receiveBuffer = 0;
  // The kernel stamps every received segment, so AwaitByte knows when a byte arrived however
  // late this one thread reads it (benchmarks that share the cores with the server).
  bool stampArrivals = false;
};

struct FleetClient {
  using Clock = std::chrono::steady_clock;
  int fd = -1;
  uint8_t greeting[4] = {};
  size_t greetingBytes = 0;
  bool greeted = false;  // the four bytes arrived and were the greeting
  bool badGreeting = false;
  bool ended = false;  // the server ended the stream (or reset it)
  int lastState = -1;  // the last state byte received, -1 for none
  uint64_t stateBytes = 0;
  uint64_t keepAlives = 0;
  uint64_t invalidBytes = 0;  // bytes that are neither a state nor a keep-alive
  Clock::time_point lastStateAt{};
  Clock::time_point openedAt{};
  // When the byte AwaitByte looks for arrived (kernel stamp, else read) and was read.
  bool sawAwaited = false;
  Clock::time_point awaitedArrivedAt{};
  Clock::time_point awaitedReadAt{};
};

class ClientFleet {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ClientFleet(FleetOptions options = {});
  ~ClientFleet();
  ClientFleet(const ClientFleet&) = delete;
  ClientFleet& operator=(const ClientFleet&) = delete;

  // Connects `count` more clients to 127.0.0.1:port, keeping at most `window` of them between
  // connect and greeting (a steady arrival; SIZE_MAX fires every connect in one go, as clients
  // all reconnecting after a restart would). Returns how many were greeted before `timeout`.
  size_t Connect(uint16_t port, size_t count, Clock::duration timeout, size_t window = 4);

  // Starts `count` more connections at once, without waiting for anything (a flood). Returns
  // how many sockets could be opened.
  size_t Open(uint16_t port, size_t count);

  // Reads whatever has arrived on every client until `done()` holds or `timeout` passes.
  // True when `done()` held.
  bool PumpUntil(const std::function<bool()>& done, Clock::duration timeout);

  // One client's byte, timed from `since`: when it reached the client's socket (the server's
  // own latency), and when this fleet's thread read it (adding the fleet's own backlog).
  struct Arrival {
    Clock::duration arrived;
    Clock::duration read;
  };
  // Reads until every live client has received `value` or `timeout` after `since` passes; one
  // Arrival per client that received it. Other bytes (keep-alives, other states) are skipped.
  std::vector<Arrival> AwaitByte(uint8_t value, Clock::time_point since, Clock::duration timeout);

  // Closes every client: gracefully, or with a reset (SO_LINGER 0) when `reset`.
  void CloseAll(bool reset = false);
  // Closes one client the same way.
  void Close(size_t index, bool reset = false);

  // Sends one byte from client `index`; false when the socket did not take it.
  bool Send(size_t index, uint8_t byte);

  size_t Size() const { return clients_.size(); }
  const FleetClient& operator[](size_t index) const { return clients_[index]; }
  size_t CountEnded() const;
  // Clients greeted and still open: those a broadcast should reach.
  size_t CountLive() const;
  // Clients still open whose last state byte is `byte`.
  size_t CountWithState(uint8_t byte) const;

 private:
  void ReadFrom(size_t index);
  bool Live(const FleetClient& client) const;

  FleetOptions options_;
  int epoll_ = -1;
  uint32_t nextSource_ = 0;
  int awaited_ = -1;  // the byte AwaitByte looks for, -1 for none
  std::vector<FleetClient> clients_;
};

// The source address of a fleet's `index`th client: 127.0.0.2 to 127.0.0.251, round and round.
std::string LoopbackSource(uint32_t index);

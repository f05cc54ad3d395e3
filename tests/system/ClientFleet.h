#pragma once
// Many loopback clients of a volume server driven from one thread with epoll: connect them,
// check their greetings, follow the state bytes each one receives, and see which ones the
// server ended. Source addresses rotate over 127.0.0.0/8 so that heavy churn does not run out
// of ephemeral ports while old connections linger in TIME_WAIT.

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

struct FleetClient {
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
  std::chrono::steady_clock::time_point lastStateAt{};
  std::chrono::steady_clock::time_point openedAt{};
};

class ClientFleet {
 public:
  // receiveBuffer > 0 shrinks SO_RCVBUF before connecting (clients that stall fill up fast).
  explicit ClientFleet(int receiveBuffer = 0);
  ~ClientFleet();
  ClientFleet(const ClientFleet&) = delete;
  ClientFleet& operator=(const ClientFleet&) = delete;

  // Connects `count` more clients to 127.0.0.1:port, keeping at most `window` of them between
  // connect and greeting (a steady arrival, unlike Open's burst). Returns how many were greeted
  // before `timeout`.
  size_t Connect(uint16_t port, size_t count, std::chrono::milliseconds timeout, size_t window = 4);

  // Starts `count` more connections at once, without waiting for anything (a flood). Returns
  // how many sockets could be opened.
  size_t Open(uint16_t port, size_t count);

  // Reads whatever has arrived on every client until `done()` holds or `timeout` passes.
  // True when `done()` held.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Closes every client: gracefully, or with a reset (SO_LINGER 0) when `reset`.
  void CloseAll(bool reset = false);
  // Closes one client the same way.
  void Close(size_t index, bool reset = false);

  // Sends one byte from client `index`; false when the socket did not take it.
  bool Send(size_t index, uint8_t byte);

  size_t Size() const { return clients_.size(); }
  const FleetClient& operator[](size_t index) const { return clients_[index]; }
  size_t CountEnded() const;
  // Clients still open whose last state byte is `byte`.
  size_t CountWithState(uint8_t byte) const;

 private:
  void Watch(size_t index);
  void ReadFrom(size_t index);

  int receiveBuffer_;
  int epoll_ = -1;
  uint32_t nextSource_ = 0;
  std::vector<FleetClient> clients_;
};

// Opens one client socket to 127.0.0.1:port from the next 127.0.0.x source address, optionally
// with a small receive buffer, non-blocking; -1 on failure. `sourceCounter` rotates the source.
int ConnectLoopbackClient(uint16_t port, int receiveBuffer, uint32_t* sourceCounter,
                          bool nonBlocking);

#pragma once
// Many TCP clients driven from one thread with epoll, for measuring a server from outside:
// how fast it greets new clients, and how long a state byte takes to reach all of them.
// Linux only. Not thread-safe: one thread uses a swarm.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class ClientSwarm {
 public:
  using Clock = std::chrono::steady_clock;

  ClientSwarm(std::string host, uint16_t port);
  ~ClientSwarm();
  ClientSwarm(const ClientSwarm&) = delete;
  ClientSwarm& operator=(const ClientSwarm&) = delete;

  // Opens `count` more clients, at most `window` of them still waiting for their first
  // `greetingBytes` bytes at any time (SIZE_MAX: every connect fired in one go, as clients all
  // reconnecting after a restart would). Returns how many were greeted before `timeout`; the
  // others are closed.
  size_t Connect(size_t count, size_t window, size_t greetingBytes, Clock::duration timeout);

  // One client's byte, timed from the request: when the kernel queued it on the client's socket
  // (the server's own latency), and when this swarm's one thread got round to reading it (which
  // adds the swarm's backlog when it shares the cores with the server).
  struct Arrival {
    Clock::duration arrived;
    Clock::duration read;
  };

  // Reads from every client until each has received `value` or the timeout passes. Returns one
  // Arrival per client that received it. Other bytes (keep-alives, earlier states) are skipped.
  std::vector<Arrival> AwaitByte(uint8_t value, Clock::time_point since, Clock::duration timeout);

  // Clients whose stream has ended (the server closed them) so far.
  size_t Ended() const { return ended_; }
  size_t Size() const { return clients_.size(); }
  void CloseAll();

 private:
  struct Client {
    int fd = -1;
    size_t received = 0;
    bool alive = true;
  };
  int OpenOne();

  std::string host_;
  uint16_t port_;
  int epoll_ = -1;
  std::vector<Client> clients_;
  size_t ended_ = 0;
};

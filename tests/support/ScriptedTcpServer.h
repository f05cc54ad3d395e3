#pragma once
// A TCP server on 127.0.0.1 for testing clients, on a thread of its own. Either it plays a
// script written by the test on one client (exact server byte sequences, wrong ones included),
// or it relays as a volume server in miniature (clients that use more than one connection).
// Every wait is bounded; the destructor stops and joins it.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ScriptedTcpServer {
 public:
  ScriptedTcpServer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (pipe2(stop_, O_CLOEXEC) == 0 &&
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listenFd_, 8) == 0 &&
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~ScriptedTcpServer() {
    [[maybe_unused]] const ssize_t woken = write(stop_[1], "x", 1);
    Join();
    for (int fd : {listenFd_, stop_[0], stop_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  ScriptedTcpServer(const ScriptedTcpServer&) = delete;
  ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

  // 0 when the socket could not be set up.
  uint16_t Port() const { return port_; }

  // Accepts one client (waiting at most 5 s) and runs `script` on it on the server's thread;
  // the descriptor is closed after the script returns.
  void Serve(std::function<void(int fd)> script) {
    thread_ = std::thread([this, script = std::move(script)] {
      const int fd = AcceptOne(5000);
      if (fd < 0) return;
      script(fd);
      close(fd);
    });
  }

  // Serves every client as a volume server would: greets it and sends it `stateByte` (not
  // when that is unmuted at 100). When it `applies` requests, a client's state byte becomes
  // the state and goes to every other client, never back to the sender; otherwise (a sound
  // server that ignores the change) nobody hears of it. Received() has every byte sent.
  void Relay(uint8_t stateByte, bool applies) {
    thread_ = std::thread([this, stateByte, applies] { RelayLoop(stateByte, applies); });
  }
  std::vector<uint8_t> Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  // Script helpers.
  static void Send(int fd, std::vector<uint8_t> bytes) {
    if (!bytes.empty()) send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // Everything the client sends until it ends its stream, or until `timeout` passes.
  static std::vector<uint8_t> ReadUntilEnd(
      int fd, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::vector<uint8_t> received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) break;
      uint8_t chunk[256];
      const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      received.insert(received.end(), chunk, chunk + got);
    }
    return received;
  }

 private:
  // A new client, or -1 when none came within `timeoutMs` or the server is stopping.
  int AcceptOne(int timeoutMs) {
    pollfd ready[2] = {{stop_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    if (poll(ready, 2, timeoutMs) < 1 || ready[0].revents != 0) return -1;
    return accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

  void RelayLoop(uint8_t state, bool applies) {
    std::vector<int> clients;
    for (;;) {
      std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
      for (int fd : clients) fds.push_back({fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 10000) <= 0 || fds[0].revents != 0) break;
      if (fds[1].revents != 0) {
        const int fd = AcceptOne(0);
        const uint8_t hello[] = {0x19, 0xC8, 0xDE, 0x00, state};
        if (fd >= 0) {
          send(fd, hello, state == 0x64 ? 4 : 5, MSG_NOSIGNAL);
          clients.push_back(fd);
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        uint8_t bytes[64];
        const ssize_t got = recv(fds[i].fd, bytes, sizeof bytes, 0);
        if (got <= 0) {
          close(fds[i].fd);
          std::erase(clients, fds[i].fd);
          continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), bytes, bytes + got);
        if (!applies || bytes[got - 1] == state) continue;
        state = bytes[got - 1];
        for (int other : clients) {
          if (other != fds[i].fd) send(other, &state, 1, MSG_NOSIGNAL);
        }
      }
    }
    for (int fd : clients) close(fd);
  }

  int listenFd_ = -1;
  int stop_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

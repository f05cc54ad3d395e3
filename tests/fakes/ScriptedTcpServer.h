#pragma once
// A one-connection TCP server on 127.0.0.1 that plays a script written by the test: it accepts
// one client on its own thread and hands the connected descriptor to the script. Used to test
// clients against exact server byte sequences, including wrong ones.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

class ScriptedTcpServer {
 public:
  ScriptedTcpServer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listenFd_, 8) == 0 &&
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~ScriptedTcpServer() {
    Join();
    if (listenFd_ >= 0) close(listenFd_);
  }
  ScriptedTcpServer(const ScriptedTcpServer&) = delete;
  ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

  // 0 when the socket could not be set up.
  uint16_t Port() const { return port_; }

  // Accepts one client (waiting at most 5 s) and runs `script` on it on the server's thread;
  // the descriptor is closed after the script returns.
  void Serve(std::function<void(int fd)> script) {
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd ready{listenFd_, POLLIN, 0};
      if (poll(&ready, 1, 5000) != 1) return;
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      script(fd);
      close(fd);
    });
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
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

#pragma once
// A volume server in miniature for clients that use more than one connection: on 127.0.0.1 it
// greets every client and sends it the state (unless unmuted at 100); when it `applies`
// requests, a client's state byte becomes the state and goes to every other client, never
// back to the sender. When it does not apply them (a sound server that ignores the change),
// nobody hears of them. Records every byte the clients sent. One thread, stopped by the
// destructor.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class RelayingFakeServer {
 public:
  RelayingFakeServer(uint8_t stateByte, bool applies) : state_(stateByte), applies_(applies) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (pipe(stop_) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~RelayingFakeServer() {
    if (thread_.joinable()) {
      [[maybe_unused]] const ssize_t woken = write(stop_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {listenFd_, stop_[0], stop_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  RelayingFakeServer(const RelayingFakeServer&) = delete;
  RelayingFakeServer& operator=(const RelayingFakeServer&) = delete;

  // 0 when the socket could not be set up.
  uint16_t Port() const { return port_; }
  std::vector<uint8_t> Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Loop() {
    std::vector<int> clients;
    for (;;) {
      std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
      for (int fd : clients) fds.push_back({fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 10000) <= 0 || fds[0].revents != 0) break;
      if (fds[1].revents != 0) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        const uint8_t hello[] = {0x19, 0xC8, 0xDE, 0x00, state_};
        if (fd >= 0) {
          send(fd, hello, state_ == 0x64 ? 4 : 5, MSG_NOSIGNAL);
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
        if (!applies_ || bytes[got - 1] == state_) continue;
        state_ = bytes[got - 1];
        for (int other : clients) {
          if (other != fds[i].fd) send(other, &state_, 1, MSG_NOSIGNAL);
        }
      }
    }
    for (int fd : clients) close(fd);
  }

  uint8_t state_;
  const bool applies_;
  int listenFd_ = -1;
  int stop_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

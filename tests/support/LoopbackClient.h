#pragma once
// A plain blocking TCP client on 127.0.0.1 for tests, with bounded waits; ClientFleet drives
// many at once.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "ClientFleet.h"
#include "fakes/Eventually.h"

// Up to `count` bytes from a client of either kind (its ReadByte gives one or nothing), stopping
// early at the end of the connection or a timeout.
template <typename Client>
std::vector<uint8_t> ReadUpTo(Client& client, size_t count) {
  std::vector<uint8_t> bytes;
  while (bytes.size() < count) {
    auto byte = client.ReadByte();
    if (!byte) break;
    bytes.push_back(*byte);
  }
  return bytes;
}

class LoopbackClient {
 public:
  // receiveBuffer > 0 shrinks the buffers before connecting (to stall a client quickly).
  // connectNow false: only the socket is made; ConnectNow() connects later.
  explicit LoopbackClient(uint16_t port, int receiveBuffer = 0, bool connectNow = true)
      : port_(port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ShrinkBuffers(fd_, receiveBuffer);
    if (connectNow) ConnectNow();
  }
  bool ConnectNow() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    return connected_;
  }
  ~LoopbackClient() { Close(); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool Connected() const { return connected_; }

  bool Send(std::vector<uint8_t> bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // The next byte, or nothing when the stream ended or none came within the timeout.
  std::optional<uint8_t> ReadByte(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    uint8_t byte = 0;
    if (recv(fd_, &byte, 1, 0) != 1) return std::nullopt;
    return byte;
  }

  // Whatever has arrived (waiting up to the timeout for the first byte); empty at the end of
  // the stream or on a timeout.
  std::vector<uint8_t> ReadAvailable(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return {};
    std::vector<uint8_t> bytes(65536);
    const ssize_t n = recv(fd_, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }

  // Up to `count` bytes, stopping early at the end of the stream or a timeout.
  std::vector<uint8_t> Read(size_t count) { return ReadUpTo(*this, count); }

  // True when the server ended the stream (EOF or reset), skipping bytes still in flight.
  bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      uint8_t buffer[4096];
      if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return false;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }

 private:
  uint16_t port_;
  int fd_ = -1;
  bool connected_ = false;
};

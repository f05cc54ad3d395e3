#pragma once
// A plain blocking Winsock client on 127.0.0.1 (or ::1) for tests, independent of the adapter under
// test, with bounded waits.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "fakes/Eventually.h"

class TestClient {
 public:
  explicit TestClient(uint16_t port, bool ipv6 = false) {
    if (ipv6) {
      socket_ = ::socket(AF_INET6, SOCK_STREAM, 0);
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_addr = in6addr_loopback;
      address.sin6_port = htons(port);
      connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      return;
    }
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TestClient() { Close(); }
  bool Connected() const { return connected_; }
  void Send(uint8_t byte) { ::send(socket_, reinterpret_cast<const char*>(&byte), 1, 0); }
  // Reads `count` bytes, or fewer when the stream ends or nothing comes for `timeoutMs`.
  // Waits with select rather than a receive time-out: Wine 8's blocking recv with
  // SO_RCVTIMEO can miss data that arrives as the wait begins.
  std::vector<uint8_t> Receive(size_t count, long timeoutMs = 5000) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_, &readable);
      timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
      if (select(0, &readable, nullptr, nullptr, &timeout) != 1) break;
      char c;
      if (::recv(socket_, &c, 1, 0) != 1) break;
      bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
  }
  // Closes with a reset instead of a graceful end.
  void Abort() {
    linger hard{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    Close();
  }
  void Close() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  bool connected_ = false;
};

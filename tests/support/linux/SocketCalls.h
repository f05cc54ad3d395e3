#pragma once
// Linux's side of TestSockets.cpp: its socket headers and the calls that differ on Windows.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "TestSockets.h"

namespace testsocket::native {

using Length = socklen_t;
constexpr int kShutdownSend = SHUT_WR;

inline int Fd(Handle socket) {
  return static_cast<int>(socket);
}

inline Handle OpenStream(int family) {
  return socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

inline void CloseSocket(Handle socket) {
  close(Fd(socket));
}

// A bind to port 0 leaves the port to the connect, so many sources share no port range.
inline void PortAtConnect(Handle socket) {
  const int one = 1;
  setsockopt(Fd(socket), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
}

inline void ShrinkBuffers(Handle socket, int receiveBuffer) {
  setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  const int segment = 536;  // the smallest every TCP must take
  setsockopt(Fd(socket), IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
}

inline void SetBlocking(Handle socket, bool blocking) {
  const int flags = fcntl(Fd(socket), F_GETFL);
  fcntl(Fd(socket), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

inline bool ConnectUnderWay() {
  return errno == EINPROGRESS || errno == EINTR;
}

// poll, resumed after a signal with the time that is left.
inline int Poll(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ready = poll(fds.data(), fds.size(), left.count() > 0 ? int(left.count()) : 0);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

// Some of the bytes; <= 0 on failure. Never raises SIGPIPE.
inline long SendSome(Handle socket, const uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t sent = send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (sent >= 0 || errno != EINTR) return sent;
  }
}

// What has arrived: the count, 0 at the end of the stream or on a reset, -1 for nothing yet.
inline long ReceiveNow(Handle socket, uint8_t* buffer, size_t size) {
  for (;;) {
    const ssize_t got = recv(Fd(socket), buffer, size, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    return got > 0 ? got : 0;
  }
}

inline Handle AcceptOne(Handle listener) {
  for (;;) {
    const int accepted = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted >= 0 || errno != EINTR) return accepted >= 0 ? accepted : kNone;
  }
}

}  // namespace testsocket::native

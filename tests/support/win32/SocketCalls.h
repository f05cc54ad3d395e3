#pragma once
// Windows' side of TestSockets.cpp: Winsock's headers and the calls that differ on Linux.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <vector>

#include "TestSockets.h"

namespace testsocket::native {

using Length = int;
constexpr int kShutdownSend = SD_SEND;

inline SOCKET Fd(Handle socket) {
  return static_cast<SOCKET>(socket);
}

// Winsock is started once and stays so for the test process, whatever the adapter under test
// starts and stops.
inline Handle OpenStream(int family) {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  const SOCKET socket = started ? ::socket(family, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  return socket == INVALID_SOCKET ? kNone : static_cast<Handle>(socket);
}

inline void CloseSocket(Handle socket) {
  closesocket(Fd(socket));
}

// Windows picks a port at bind time: nothing to ask for.
inline void PortAtConnect(Handle) {}

// Windows lets no client choose the segment size it announces: the receive buffer alone.
inline void ShrinkBuffers(Handle socket, int receiveBuffer) {
  setsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
             sizeof receiveBuffer);
}

inline void SetBlocking(Handle socket, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  ioctlsocket(Fd(socket), FIONBIO, &nonBlocking);
}

inline bool ConnectUnderWay() {
  return WSAGetLastError() == WSAEWOULDBLOCK;
}

inline int Poll(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) {
  return WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), static_cast<int>(timeout.count()));
}

// Some of the bytes; <= 0 on failure.
inline long SendSome(Handle socket, const uint8_t* data, size_t size) {
  return send(Fd(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
}

// What has arrived (a poll said something has): the count, 0 at the end of the stream or on a
// reset.
inline long ReceiveNow(Handle socket, uint8_t* buffer, size_t size) {
  const int got = recv(Fd(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
  return got > 0 ? got : 0;
}

inline Handle AcceptOne(Handle listener) {
  const SOCKET accepted = accept(Fd(listener), nullptr, nullptr);
  return accepted == INVALID_SOCKET ? kNone : static_cast<Handle>(accepted);
}

}  // namespace testsocket::native

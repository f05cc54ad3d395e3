// Linux adapter of net/Socket.h.
#include "net/Socket.h"

#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "base/Log.h"
#include "net/SocketAddress.h"

namespace {

// For the calls whose failure the user may have to act on (a port taken, no descriptors left).
bool Logged(bool succeeded, const std::string& what) {
  if (!succeeded) LogSystemError(what, errno);
  return succeeded;
}

void SetIntOption(SocketHandle socket, int level, int name, int value) {
  setsockopt(Native(socket), level, name, &value, sizeof value);
}

bool ListenOn(int fd) {
  // The kernel silently caps the backlog at net.core.somaxconn, which may be set above SOMAXCONN.
  return Logged(::listen(fd, INT_MAX) == 0, "listen");
}

// Binds and listens; the reason on failure.
ListenResult BindAndListen(int fd, const sockaddr* address, socklen_t length) {
  // Connections the server closed linger in TIME_WAIT for a minute; without this a restart, or
  // a move back to the previous port, could not bind until they expire. On Linux it never lets
  // two sockets listen on one port, so a port in use by another program is still refused.
  SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  if (::bind(fd, address, length) != 0) {
    // A port in use or an address this computer lacks is the caller's to tell; the rest only
    // the system can explain.
    if (errno == EADDRINUSE) return ListenResult::InUse;
    if (errno == EADDRNOTAVAIL) return ListenResult::NotLocal;
    Logged(false, "bind");
    return ListenResult::Failed;
  }
  return ListenOn(fd) ? ListenResult::Listening : ListenResult::Failed;
}

}  // namespace

ListenResult OpenListenerAt(const SocketAddress& address, bool dualStack, SocketHandle* listener) {
  const int fd = ::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == EAFNOSUPPORT) return ListenResult::NotLocal;  // IPv4 alone serves then
    Logged(false, "socket");
    return ListenResult::Failed;
  }
  if (address.Family() == AF_INET6) {
    SetIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, dualStack ? 0 : 1);
  }
  const ListenResult result = BindAndListen(fd, address.Get(), address.length);
  if (result != ListenResult::Listening) {
    ::close(fd);
    return result;
  }
  *listener = fd;
  return result;
}

AcceptResult AcceptClient(SocketHandle listener, SocketHandle* accepted, IpAddress* peer) {
  SocketAddress address;
  const int fd = ::accept4(Native(listener), address.Get(), &address.length, SOCK_CLOEXEC);
  if (fd >= 0) {
    *accepted = fd;
    if (peer != nullptr) *peer = AddressOf(address);
    return AcceptResult::Accepted;
  }
  switch (errno) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptResult::Exhausted;
    // A shut-down listener reports EINVAL, as does one that never listened.
    case EINVAL:
    case EBADF:
    case ENOTSOCK:
    case EOPNOTSUPP:
    case EFAULT:
      return AcceptResult::Closed;
    default:
      // ECONNABORTED, EINTR, EPROTO, EPERM and the network errors that accept(2) passes on from
      // the new connection: they concern one client, not the listener.
      return AcceptResult::Transient;
  }
}

int SendNow(SocketHandle socket, const uint8_t* data, size_t length) {
  ssize_t sent;
  do {
    sent = ::send(Native(socket), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent >= 0) return static_cast<int>(sent);
  return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

int ReceiveByte(SocketHandle socket, uint8_t* byte) {
  ssize_t received;
  do {
    received = ::recv(Native(socket), byte, 1, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return -1;
  return received == 1 ? 1 : 0;
}

void ShutdownBoth(SocketHandle socket) {
  ::shutdown(Native(socket), SHUT_RDWR);
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(Native(socket));
}

void SetNoDelay(SocketHandle socket) {
  SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

void SetDeadPeerTimeout(SocketHandle socket, uint32_t timeoutMs) {
  // Idle for a third of the time, then probes every sixth: the peer is given up at the timeout.
  const int seconds = static_cast<int>(timeoutMs / 1000);
  const int idle = std::max(1, seconds / 3);
  const int interval = std::max(1, seconds / 6);
  const int probes = std::max(1, (seconds - idle + interval - 1) / interval);
  SetIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, idle);
  SetIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, interval);
  SetIntOption(socket, IPPROTO_TCP, TCP_KEEPCNT, probes);
  // Also bounds retransmissions of data the peer never acknowledges (by default 15 minutes and
  // more), and once set, decides when unanswered keep-alive probes end the connection.
  SetIntOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(timeoutMs));
}

void SetListenerOptions(SocketHandle listener) {
  // Only TCP_NODELAY. Level-IPPROTO_TCP option 8, which the Windows build also sets, is
  // TCP_WINDOW_CLAMP on Linux and would shrink every accepted window.
  SetNoDelay(listener);
}

#include "net/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "base/Log.h"

namespace {

// For the calls whose failure the user may have to act on (a port taken, no descriptors left).
bool Logged(bool succeeded, const std::string& what) {
  if (!succeeded) LogSystemError(what, errno);
  return succeeded;
}

int Fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

void SetIntOption(SocketHandle socket, int level, int name, int value) {
  setsockopt(Fd(socket), level, name, &value, sizeof value);
}

// Either family's socket address as our address type; unspecified for anything else.
IpAddress AddressOf(const sockaddr_storage& storage) {
  if (storage.ss_family == AF_INET) {
    return IpAddress::FromV4Bytes(&reinterpret_cast<const sockaddr_in&>(storage).sin_addr);
  }
  if (storage.ss_family == AF_INET6) {
    return IpAddress::FromV6Bytes(&reinterpret_cast<const sockaddr_in6&>(storage).sin6_addr);
  }
  return {};
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

ListenResult OpenFamily(int family, const sockaddr* address, socklen_t length, bool dualStack,
                        SocketHandle* listener) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == EAFNOSUPPORT) return ListenResult::NotLocal;  // IPv4 alone serves then
    Logged(false, "socket");
    return ListenResult::Failed;
  }
  if (family == AF_INET6) SetIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, dualStack ? 0 : 1);
  const ListenResult result = BindAndListen(fd, address, length);
  if (result != ListenResult::Listening) {
    ::close(fd);
    return result;
  }
  *listener = fd;
  return result;
}

}  // namespace

ListenResult OpenListenerOn(const IpAddress& address, uint16_t port, bool dualStack,
                            SocketHandle* listener) {
  sockaddr_storage storage{};
  socklen_t length = sizeof(sockaddr_in6);
  auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
  if (address.IsV4()) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    std::memcpy(&v4.sin_addr, address.bytes.data() + 12, 4);
    length = sizeof v4;
  } else {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&v6.sin6_addr, address.bytes.data(), 16);
  }
  return OpenFamily(storage.ss_family, reinterpret_cast<const sockaddr*>(&storage), length,
                    dualStack, listener);
}

uint16_t LocalPort(SocketHandle socket) {
  // Large enough for either family; the port sits at the same place in both.
  sockaddr_in6 address{};
  socklen_t length = sizeof address;
  if (socket == kInvalidSocket ||
      getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin6_port);
}

AcceptResult AcceptClient(SocketHandle listener, SocketHandle* accepted, IpAddress* peer) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd =
      ::accept4(Fd(listener), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
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
    sent = ::send(Fd(socket), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent >= 0) return static_cast<int>(sent);
  return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
}

int ReceiveByte(SocketHandle socket, uint8_t* byte) {
  ssize_t received;
  do {
    received = ::recv(Fd(socket), byte, 1, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return -1;
  return received == 1 ? 1 : 0;
}

void ShutdownBoth(SocketHandle socket) {
  ::shutdown(Fd(socket), SHUT_RDWR);
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(Fd(socket));
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

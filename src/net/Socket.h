#pragma once
// The TCP calls the server and its probes make, and nothing more. One implementation per
// platform (linux/Socket.cpp, win32/Socket.cpp) beside the portable half both share
// (SocketAddress.cpp); this header holds no platform type.
//
// Error policy: no call throws; failures come back as the results documented per call, and the
// native error code stays inside the adapter. Every call may be made from any thread; a handle
// may be used by several threads at once exactly as the callers below describe (one reader
// receives while senders send; ShutdownBoth may come from any thread while others block on the
// handle). Only CloseSocket ends a handle's life, and its owner calls it once no other thread can
// still use the handle.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "net/IpAddress.h"

// A socket handle as the platform knows it, widened to an integer (a descriptor on Linux, a
// SOCKET on Windows, whose INVALID_SOCKET is all ones and therefore -1 here).
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

enum class ListenResult {
  Listening,  // *listener holds the listening socket
  InUse,      // another socket listens on the port
  NotLocal,   // the address is not one of this computer's
  Failed,     // anything else
};

// Opens a TCP socket bound to `address` and `port` (0 lets the system choose), listening with the
// largest backlog the system allows: clients all reconnect at once after a restart or a port
// change; a short queue overflows, and since the server speaks first, a client whose handshake
// the kernel completed (SYN cookies) but never queued waits for ever. On Linux the bind goes
// through while only closed connections of the port linger (TIME_WAIT). Without an address:
// every address of both families through one dual-stack IPv6 socket, or of IPv4 alone where the
// system has no IPv6 (no stack, or switched off); that fallback is silent. An IPv6 address is
// served on IPv6 alone. The handle is not inherited by child processes. Nothing stays open on
// failure.
ListenResult OpenListener(const IpAddress* address, uint16_t port, SocketHandle* listener);

// Where a socket is bound: its address (an IPv4 client of a dual-stack socket shows as IPv4)
// and port in host byte order, and whether the socket itself is of the IPv6 family.
struct LocalEnd {
  IpAddress address;
  uint16_t port = 0;
  bool ipv6Socket = false;
};
// Empty when the socket is not bound or on failure.
std::optional<LocalEnd> LocalEndOf(SocketHandle socket);
// The address a connected socket's peer sends from (an IPv4 peer of a dual-stack socket held
// mapped, as IpAddress holds every IPv4 address). Empty when not connected or on failure.
std::optional<IpAddress> PeerOf(SocketHandle socket);
// The local port the socket is bound to, in host byte order; 0 when unbound or on failure.
uint16_t LocalPort(SocketHandle socket);

enum class AcceptResult {
  Accepted,   // *accepted holds the new connection
  Transient,  // this attempt failed for one client only (it reset first, a signal...): retry now
  Exhausted,  // descriptors, buffers or memory ran out, or the network is down: retry after a
              // short pause
  Closed,     // the listening socket was shut down, closed, or is not listening: stop accepting
};

// Blocks until a client arrives, or until ShutdownBoth on `listener` from another thread makes it
// return Closed. With `peer`, the client's address is stored there (all zeros, the unspecified
// address, when the system gave none). The accepted socket blocks on receive and is not
// inherited by child processes.
AcceptResult AcceptClient(SocketHandle listener, SocketHandle* accepted, IpAddress* peer = nullptr);

// Sends without ever blocking: hands to the socket what fits into its send buffer at once and
// returns the number of bytes taken (possibly fewer than `length`, possibly 0 when the buffer is
// full), or -1 on an error, including a peer that has gone. Never raises a signal (Linux: no
// SIGPIPE). Every platform must keep this never-blocking behaviour even though the socket
// blocks for receives: a client that stops reading must not stall the thread that sends.
int SendNow(SocketHandle socket, const uint8_t* data, size_t length);

// Blocks until one byte arrives. 1: *byte holds it; 0: the peer closed its side, or this socket
// was shut down (ShutdownBoth from another thread wakes the call); -1: any other error.
int ReceiveByte(SocketHandle socket, uint8_t* byte);

// Shuts the connection down in both directions. Wakes a thread blocked in ReceiveByte or
// AcceptClient on the same handle. The handle stays valid until CloseSocket. Result ignored.
void ShutdownBoth(SocketHandle socket);

// Releases the handle. Does nothing for kInvalidSocket.
void CloseSocket(SocketHandle socket);

// Sets TCP_NODELAY on a connected socket, so single state bytes leave at once.
void SetNoDelay(SocketHandle socket);

// Ends a connected socket whose peer stops acknowledging for about `timeoutMs` (at least a few
// seconds), as a phone leaving the Wi-Fi does without a FIN: keep-alive probes while nothing is
// in flight, and on Linux a bound on unacknowledged data (TCP_USER_TIMEOUT; Windows has none, and
// its own limit on retransmissions bounds the server's unacknowledged keep-alive byte). A blocked
// receive then fails. Results ignored.
void SetDeadPeerTimeout(SocketHandle socket, uint32_t timeoutMs);

// The options the server sets on its listening socket after every accept: TCP_NODELAY, then the
// level-IPPROTO_TCP option 8 where that is harmless (Windows). On Linux option 8 is
// TCP_WINDOW_CLAMP and is never set. Results ignored.
void SetListenerOptions(SocketHandle listener);

// Owns one handle and closes it on destruction. Move-only.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kInvalidSocket)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, kInvalidSocket));
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Reset(); }

  SocketHandle Get() const { return handle_; }
  bool Valid() const { return handle_ != kInvalidSocket; }
  // Closes the current handle (if any) and takes `handle`.
  void Reset(SocketHandle handle = kInvalidSocket) { CloseSocket(std::exchange(handle_, handle)); }
  // Gives the handle up without closing it.
  SocketHandle Release() { return std::exchange(handle_, kInvalidSocket); }

 private:
  SocketHandle handle_ = kInvalidSocket;
};

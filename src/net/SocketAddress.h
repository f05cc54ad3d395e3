#pragma once
// The portable half of net/Socket.h, for the socket adapters only (it includes the system's
// socket headers): between our address type and the system's socket addresses, and the
// adapter calls the portable half is built on.

#include <cstdint>

#include "SystemSockets.h"
#include "net/IpAddress.h"

// A socket address of either family, as the system's calls take and fill it.
struct SocketAddress {
  sockaddr_storage storage{};
  SocketLength length = sizeof(sockaddr_storage);

  sockaddr* Get() { return reinterpret_cast<sockaddr*>(&storage); }
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int Family() const { return storage.ss_family; }
};

// `address` and `port` as a socket address of the address's family (an IPv4 address, held
// mapped, becomes an IPv4 socket address).
SocketAddress ToSocketAddress(const IpAddress& address, uint16_t port);
// Either family's socket address as our address type; unspecified for anything else.
IpAddress AddressOf(const SocketAddress& address);

// The adapter's half of OpenListener: one socket of the address's family, bound to it and
// listening; an IPv6 one also takes IPv4 clients when `dualStack`. NotLocal also where the
// system lacks the family.
ListenResult OpenListenerAt(const SocketAddress& address, bool dualStack, SocketHandle* listener);

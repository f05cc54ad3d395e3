#include "net/SocketAddress.h"

#include <cstring>

SocketAddress ToSocketAddress(const IpAddress& address, uint16_t port) {
  SocketAddress socketAddress;
  if (address.IsV4()) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(socketAddress.storage);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    std::memcpy(&v4.sin_addr, address.bytes.data() + 12, 4);
    socketAddress.length = sizeof v4;
  } else {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(socketAddress.storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&v6.sin6_addr, address.bytes.data(), 16);
    socketAddress.length = sizeof v6;
  }
  return socketAddress;
}

IpAddress AddressOf(const SocketAddress& address) {
  if (address.Family() == AF_INET) {
    return IpAddress::FromV4Bytes(&reinterpret_cast<const sockaddr_in&>(address.storage).sin_addr);
  }
  if (address.Family() == AF_INET6) {
    return IpAddress::FromV6Bytes(
        &reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_addr);
  }
  return {};
}

ListenResult OpenListener(const IpAddress* address, uint16_t port, SocketHandle* listener) {
  if (address != nullptr) return OpenListenerAt(ToSocketAddress(*address, port), false, listener);
  // Every address of both families: the IPv6 "any" address, dual-stack.
  const ListenResult result = OpenListenerAt(ToSocketAddress(IpAddress{}, port), true, listener);
  // No IPv6 here (no stack, or switched off for every interface): serve IPv4 alone.
  if (result != ListenResult::NotLocal) return result;
  const uint8_t anyV4[4] = {};
  return OpenListenerAt(ToSocketAddress(IpAddress::FromV4Bytes(anyV4), port), false, listener);
}

std::optional<LocalEnd> LocalEndOf(SocketHandle socket) {
  SocketAddress address;
  if (socket == kInvalidSocket ||
      getsockname(Native(socket), address.Get(), &address.length) != 0) {
    return std::nullopt;
  }
  if (address.Family() != AF_INET && address.Family() != AF_INET6) return std::nullopt;
  // The port sits at the same place in both families' addresses.
  const uint16_t port = ntohs(reinterpret_cast<const sockaddr_in&>(address.storage).sin_port);
  return LocalEnd{AddressOf(address), port, address.Family() == AF_INET6};
}

std::optional<IpAddress> PeerOf(SocketHandle socket) {
  SocketAddress address;
  if (socket == kInvalidSocket ||
      getpeername(Native(socket), address.Get(), &address.length) != 0 ||
      (address.Family() != AF_INET && address.Family() != AF_INET6)) {
    return std::nullopt;
  }
  return AddressOf(address);
}

uint16_t LocalPort(SocketHandle socket) {
  const std::optional<LocalEnd> end = LocalEndOf(socket);
  return end ? end->port : 0;
}

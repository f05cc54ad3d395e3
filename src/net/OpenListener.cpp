#include "net/Socket.h"

ListenResult OpenListener(const IpAddress* address, uint16_t port, SocketHandle* listener) {
  if (address != nullptr) return OpenListenerOn(*address, port, false, listener);
  // Every address of both families: the IPv6 "any" address, dual-stack.
  const ListenResult result = OpenListenerOn(IpAddress{}, port, true, listener);
  // No IPv6 here (no stack, or switched off for every interface): serve IPv4 alone.
  if (result != ListenResult::NotLocal) return result;
  const uint8_t anyV4[4] = {};
  return OpenListenerOn(IpAddress::FromV4Bytes(anyV4), port, false, listener);
}

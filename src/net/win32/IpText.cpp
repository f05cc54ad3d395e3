#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/IpAddress.h"

// InetPton and InetNtop need no WSAStartup.
std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string copy(text);
  IpAddress address;
  in_addr v4{};
  if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    address.bytes[10] = address.bytes[11] = 0xFF;
    std::memcpy(address.bytes.data() + 12, &v4, 4);
    return address;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
    std::memcpy(address.bytes.data(), &v6, 16);
    return address;
  }
  return std::nullopt;
}

std::string IpAddressText(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.IsV4()) {
    in_addr v4{};
    std::memcpy(&v4, address.bytes.data() + 12, 4);
    inet_ntop(AF_INET, &v4, text, sizeof text);
  } else {
    in6_addr v6{};
    std::memcpy(&v6, address.bytes.data(), 16);
    inet_ntop(AF_INET6, &v6, text, sizeof text);
  }
  return text;
}

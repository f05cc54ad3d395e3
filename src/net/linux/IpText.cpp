#include <arpa/inet.h>

#include <cstring>

#include "net/IpAddress.h"

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string copy(text);  // inet_pton needs a terminator
  IpAddress address;
  in_addr v4{};
  if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    address.bytes[10] = address.bytes[11] = 0xFF;
    std::memcpy(address.bytes.data() + 12, &v4, 4);
    return address;
  }
  if (inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

std::string IpAddressText(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.IsV4()) {
    inet_ntop(AF_INET, address.bytes.data() + 12, text, sizeof text);
  } else {
    inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
  }
  return text;
}

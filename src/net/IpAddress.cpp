#include "net/IpAddress.h"

#include <cstring>

namespace {

// The longest address text: an IPv6 address ending in a dotted IPv4 one.
constexpr size_t kLongestAddressText = 45;

constexpr int kMappedPrefix = 96;  // ::ffff:0:0/96

IpAddress Masked(IpAddress address, int prefix) {
  for (int i = 0; i < 16; ++i) {
    const int kept = prefix - i * 8;
    if (kept >= 8) continue;
    address.bytes[i] &= kept <= 0 ? 0 : static_cast<uint8_t>(0xFF << (8 - kept));
  }
  return address;
}

std::optional<int> ParsePrefix(std::string_view text, int maximum) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > maximum) return std::nullopt;
  return value;
}

IpNetwork Network(const char* address, int prefix) {
  const IpAddress base = *ParseIpAddress(address);
  return {Masked(base, base.IsV4() ? kMappedPrefix + prefix : prefix),
          base.IsV4() ? kMappedPrefix + prefix : prefix};
}

}  // namespace

IpAddress IpAddress::FromV4Bytes(const void* four) {
  IpAddress address;
  address.bytes[10] = address.bytes[11] = 0xFF;
  std::memcpy(address.bytes.data() + 12, four, 4);
  return address;
}

IpAddress IpAddress::FromV6Bytes(const void* sixteen) {
  IpAddress address;
  std::memcpy(address.bytes.data(), sixteen, 16);
  return address;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.empty() || text.size() > kLongestAddressText) return std::nullopt;
  const std::string copy(text);  // the system's conversion needs a terminator
  uint8_t bytes[16] = {};
  if (ParseAddressBytes(copy, false, bytes)) return IpAddress::FromV4Bytes(bytes);
  if (ParseAddressBytes(copy, true, bytes)) return IpAddress::FromV6Bytes(bytes);
  return std::nullopt;
}

std::string IpAddressText(const IpAddress& address) {
  return address.IsV4() ? AddressBytesText(address.bytes.data() + 12, false)
                        : AddressBytesText(address.bytes.data(), true);
}

bool IpAddress::IsLoopback() const {
  static constexpr std::array<uint8_t, 16> kV6Loopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0, 0, 0, 1};
  return IsV4() ? bytes[12] == 127 : bytes == kV6Loopback;
}

bool IpAddress::IsV4() const {
  for (int i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return false;
  }
  return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

std::string EndpointText(const IpAddress& address, uint16_t port) {
  const std::string host = IpAddressText(address);
  return (address.IsV4() ? host : "[" + host + "]") + ":" + std::to_string(port);
}

bool IpNetwork::Contains(const IpAddress& address) const {
  return Masked(address, prefix) == base;
}

std::optional<IpNetwork> ParseIpNetwork(std::string_view text) {
  const size_t slash = text.find('/');
  const std::string_view host = text.substr(0, slash);
  const std::optional<IpAddress> address = ParseIpAddress(host);
  if (!address) return std::nullopt;
  // Written in IPv4 terms, the prefix counts IPv4 bits; in IPv6 terms (::ffff:0:0/96 too, which
  // holds every IPv4 address), the 128 bits of the form we hold.
  const bool v4Terms = host.find(':') == std::string_view::npos;
  const int width = v4Terms ? 32 : 128;
  std::optional<int> prefix = width;
  if (slash != std::string_view::npos) prefix = ParsePrefix(text.substr(slash + 1), width);
  if (!prefix) return std::nullopt;
  const int full = v4Terms ? kMappedPrefix + *prefix : *prefix;
  return IpNetwork{Masked(*address, full), full};
}

const std::vector<IpNetwork>& LocalNetworks() {
  static const std::vector<IpNetwork> networks = {
      Network("127.0.0.0", 8),   Network("::1", 128),        Network("10.0.0.0", 8),
      Network("172.16.0.0", 12), Network("192.168.0.0", 16), Network("169.254.0.0", 16),
      Network("100.64.0.0", 10), Network("fc00::", 7),       Network("fe80::", 10),
  };
  return networks;
}

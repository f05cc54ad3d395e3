#pragma once
// IP addresses and networks of both families, for where the server listens and whom it serves.
// An IPv4 address is held in its IPv4-mapped IPv6 form (::ffff:a.b.c.d), so one comparison covers
// a client reaching an IPv4 socket and one reaching a dual-stack socket.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct IpAddress {
  std::array<uint8_t, 16> bytes{};

  // From an address's raw bytes in network order, as a socket address holds them.
  static IpAddress FromV4Bytes(const void* four);
  static IpAddress FromV6Bytes(const void* sixteen);

  bool IsV4() const;        // an IPv4 address (held mapped)
  bool IsLoopback() const;  // 127.0.0.0/8 or ::1: this computer itself
  bool operator==(const IpAddress&) const = default;
  auto operator<=>(const IpAddress&) const = default;
};

// Whole-string "a.b.c.d" or an IPv6 address without brackets, zone or prefix. Any thread.
std::optional<IpAddress> ParseIpAddress(std::string_view text);
// Dotted form for IPv4 (mapped or not), the short IPv6 form otherwise. Any thread.
std::string IpAddressText(const IpAddress& address);

// The platform's own text conversion of one family's raw address, 4 bytes or (with `v6`) 16, in
// network order (linux/ or win32/IpText.cpp); the two above are built on them. Any thread.
bool ParseAddressBytes(const std::string& text, bool v6, uint8_t* bytes);
std::string AddressBytesText(const uint8_t* bytes, bool v6);
// "a.b.c.d:port", or "[v6]:port".
std::string EndpointText(const IpAddress& address, uint16_t port);

// A network in CIDR terms, measured over the 128-bit form: an IPv4 /n is a /96+n here.
struct IpNetwork {
  IpAddress base;  // host bits cleared
  int prefix = 0;  // 0..128

  bool Contains(const IpAddress& address) const;
};

// "192.168.1.0/24", "2001:db8::/32", or a bare address (one host). Host bits set below the prefix
// are cleared ("192.168.1.7/24" is 192.168.1.0/24). An IPv4-mapped network in IPv6 terms counts
// all 128 bits ("::ffff:0:0/96" is every IPv4 address). Empty on anything else.
std::optional<IpNetwork> ParseIpNetwork(std::string_view text);

// The networks a home or office reaches the server from: loopback, the private IPv4 ranges,
// IPv4 link-local, carrier-grade NAT (which VPN meshes use), IPv6 unique-local and link-local.
const std::vector<IpNetwork>& LocalNetworks();

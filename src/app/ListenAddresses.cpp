#include "app/ListenAddresses.h"

#include "base/Texts.h"

namespace {

std::string Endpoints(uint16_t port, const std::vector<IpAddress>& addresses) {
  std::string text;
  for (const IpAddress& address : addresses) {
    if (!text.empty()) text += ", ";
    text += EndpointText(address, port);
  }
  return text;
}

}  // namespace

bool IsReachableIPv6(const IpAddress& address) {
  if (address.IsV4() || address == IpAddress{}) return false;
  const uint8_t first = address.bytes[0];
  if (first == 0xFF) return false;                                       // multicast
  if (first == 0xFE && (address.bytes[1] & 0xC0) == 0x80) return false;  // link-local
  IpAddress loopback;
  loopback.bytes[15] = 1;
  return address != loopback;
}

std::string PageAddress(uint16_t pagePort, const std::vector<IpAddress>& addresses) {
  const std::string host = addresses.empty() ? "localhost:" + std::to_string(pagePort)
                                             : EndpointText(addresses.front(), pagePort);
  return "http://" + host + "/";
}

std::string PairingHost(uint16_t pagePort, const std::vector<IpAddress>& addresses,
                        const AccessPolicy& access) {
  for (const IpAddress& address : addresses) {
    if (!address.IsLoopback() && Allows(access, address)) return EndpointText(address, pagePort);
  }
  return "";
}

std::string ListeningLine(uint16_t port, const std::vector<IpAddress>& addresses,
                          uint16_t pagePort) {
  const std::string head =
      std::string(kTextAppTitle) + " listening on port " + std::to_string(port);
  const std::string page =
      pagePort == 0 ? "" : ", control page " + PageAddress(pagePort, addresses);
  if (addresses.empty()) return head + " (no network address other than loopback)" + page;
  return head + ": " + Endpoints(port, addresses) + page;
}

std::string ListeningToolTip(uint16_t port, const std::vector<IpAddress>& addresses,
                             uint16_t pagePort) {
  const std::string page = pagePort == 0 ? "" : " - " + PageAddress(pagePort, addresses);
  if (addresses.empty()) {
    return std::string(kTextAppTitle) + " - port " + std::to_string(port) + page;
  }
  return std::string(kTextAppTitle) + " - " + Endpoints(port, addresses) + page;
}

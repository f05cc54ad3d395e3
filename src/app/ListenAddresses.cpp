#include "app/ListenAddresses.h"

#include "base/Texts.h"

namespace {

std::string Endpoints(uint16_t port, const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& address : addresses) {
    if (!text.empty()) text += ", ";
    text += address + ":" + std::to_string(port);
  }
  return text;
}

}  // namespace

std::string ListeningLine(uint16_t port, const std::vector<std::string>& addresses) {
  const std::string head =
      std::string(kTextAppTitle) + " listening on port " + std::to_string(port);
  if (addresses.empty()) return head + " (no network address other than loopback)";
  return head + ": " + Endpoints(port, addresses);
}

std::string ListeningToolTip(uint16_t port, const std::vector<std::string>& addresses) {
  if (addresses.empty()) return std::string(kTextAppTitle) + " - port " + std::to_string(port);
  return std::string(kTextAppTitle) + " - " + Endpoints(port, addresses);
}

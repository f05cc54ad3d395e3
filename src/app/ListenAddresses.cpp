#include "app/ListenAddresses.h"

#include "app/ShellIds.h"

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

std::string PageAddress(uint16_t pagePort, const std::vector<std::string>& addresses) {
  return "http://" + (addresses.empty() ? std::string("localhost") : addresses.front()) + ":" +
         std::to_string(pagePort) + "/";
}

std::string ListeningLine(uint16_t port, const std::vector<std::string>& addresses,
                          uint16_t pagePort) {
  const std::string head =
      std::string(kTextAppTitle) + " listening on port " + std::to_string(port);
  const std::string page =
      pagePort == 0 ? "" : ", control page " + PageAddress(pagePort, addresses);
  if (addresses.empty()) return head + " (no network address other than loopback)" + page;
  return head + ": " + Endpoints(port, addresses) + page;
}

std::string ListeningToolTip(uint16_t port, const std::vector<std::string>& addresses,
                             uint16_t pagePort) {
  const std::string page = pagePort == 0 ? "" : " - " + PageAddress(pagePort, addresses);
  if (addresses.empty()) {
    return std::string(kTextAppTitle) + " - port " + std::to_string(port) + page;
  }
  return std::string(kTextAppTitle) + " - " + Endpoints(port, addresses) + page;
}

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "app/ListenAddresses.h"
#include "base/Log.h"

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> addresses;
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) {
    LogSystemError("getifaddrs", errno);
    return addresses;
  }
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(first, &freeifaddrs);
  for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
    if ((ntohl(address.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(text);
    }
  }
  return addresses;
}

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "app/ListenAddresses.h"
#include "base/Log.h"

std::vector<IpAddress> LocalAddresses() {
  std::vector<IpAddress> v4;
  std::vector<IpAddress> v6;
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) {
    LogSystemError("getifaddrs", errno);
    return v4;
  }
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(first, &freeifaddrs);
  for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    IpAddress address;
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      address.bytes[10] = address.bytes[11] = 0xFF;
      std::memcpy(address.bytes.data() + 12, &in->sin_addr, 4);
      if (address.bytes[12] == 127) continue;
      if (std::find(v4.begin(), v4.end(), address) == v4.end()) v4.push_back(address);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      std::memcpy(address.bytes.data(), &in6->sin6_addr, 16);
      if (!IsReachableIPv6(address)) continue;
      if (std::find(v6.begin(), v6.end(), address) == v6.end()) v6.push_back(address);
    }
  }
  v4.insert(v4.end(), v6.begin(), v6.end());
  return v4;
}

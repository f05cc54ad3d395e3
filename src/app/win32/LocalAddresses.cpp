// Winsock first: the helper API's header needs its types.
#include <winsock2.h>
#include <ws2tcpip.h>
// (kept apart so that sorting cannot put it first)
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/ListenAddresses.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

std::vector<IpAddress> LocalAddresses() {
  std::vector<IpAddress> v4;
  std::vector<IpAddress> v6;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list's size is only known by asking; it may grow between two asks.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != ERROR_SUCCESS) {
    if (result != ERROR_NO_DATA) {
      LogError("GetAdaptersAddresses: " + WindowsErrorText(result));
    }
    return v4;
  }
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* raw = unicast->Address.lpSockaddr;
      if (raw == nullptr) continue;
      IpAddress address;
      if (raw->sa_family == AF_INET) {
        address.bytes[10] = address.bytes[11] = 0xFF;
        std::memcpy(address.bytes.data() + 12, &reinterpret_cast<const sockaddr_in*>(raw)->sin_addr,
                    4);
        if (address.bytes[12] == 127) continue;
        if (std::find(v4.begin(), v4.end(), address) == v4.end()) v4.push_back(address);
      } else if (raw->sa_family == AF_INET6) {
        std::memcpy(address.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(raw)->sin6_addr,
                    16);
        if (!IsReachableIPv6(address)) continue;
        if (std::find(v6.begin(), v6.end(), address) == v6.end()) v6.push_back(address);
      }
    }
  }
  v4.insert(v4.end(), v6.begin(), v6.end());
  return v4;
}

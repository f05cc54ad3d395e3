// Winsock first: the helper API's header needs its types.
#include <winsock2.h>
// (kept apart so that sorting cannot put it first)
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/ListenAddresses.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> addresses;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list's size is only known by asking; it may grow between two asks.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != ERROR_SUCCESS) {
    if (result != ERROR_NO_DATA) {
      LogError("GetAdaptersAddresses: " + WindowsErrorText(result));
    }
    return addresses;
  }
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      const auto* bytes = reinterpret_cast<const unsigned char*>(
          &reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
      if (bytes[0] == 127) continue;
      char text[16] = {};
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
      if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
        addresses.push_back(text);
      }
    }
  }
  return addresses;
}

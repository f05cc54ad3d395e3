#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/IpAddress.h"

// InetPton and InetNtop need no WSAStartup.
bool ParseAddressBytes(const std::string& text, bool v6, uint8_t* bytes) {
  return InetPtonA(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes) == 1;
}

std::string AddressBytesText(const uint8_t* bytes, bool v6) {
  char text[INET6_ADDRSTRLEN] = {};
  InetNtopA(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
  return text;
}

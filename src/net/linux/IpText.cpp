#include <arpa/inet.h>

#include "net/IpAddress.h"

bool ParseAddressBytes(const std::string& text, bool v6, uint8_t* bytes) {
  return inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes) == 1;
}

std::string AddressBytesText(const uint8_t* bytes, bool v6) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
  return text;
}

#pragma once
// What a test needs to point a real server at a port: a free one, and the stored setting.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

// A loopback port that was free a moment ago.
inline uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// Stores the port under `configHome` as the server reads it: 4 bytes, little-endian (any value,
// so tests can store ones the server must refuse).
inline bool StorePort(const std::string& configHome, uint32_t port) {
  const std::filesystem::path folder =
      std::filesystem::path(configHome) / "Software/Marrowick/Quavix";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::ofstream out(folder / "ServerPort", std::ios::binary | std::ios::trunc);
  const char bytes[4] = {static_cast<char>(port), static_cast<char>(port >> 8),
                         static_cast<char>(port >> 16), static_cast<char>(port >> 24)};
  out.write(bytes, 4);
  return static_cast<bool>(out);
}

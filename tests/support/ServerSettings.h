#pragma once
// What a test or a benchmark needs to point a real server at a port: a free one, and the
// stored settings. The one way they write a test server's settings (server_under_test.py
// writes them the same way for the checks in Python).

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSockets.h"

// A loopback port that was free a moment ago.
inline uint16_t FreeLoopbackPort() {
  uint16_t port = 0;
  testsocket::Close(testsocket::Listen("127.0.0.1", &port));
  return port;
}

// Writes the settings file under `configHome` as a person would: section [server] with `port`
// and any further `key = value` lines (any text, so tests can store values the server must
// refuse). Replaces the whole file.
inline bool StoreSettings(const std::string& configHome, const std::string& port,
                          const std::string& moreLines = "") {
  const std::filesystem::path folder = std::filesystem::path(configHome) / "quavix";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::ofstream out(folder / "quavix-server.conf", std::ios::trunc);
  out << "[server]\nport = " << port << "\n" << moreLines;
  return static_cast<bool>(out);
}

// Without the control page, whose fixed default port a server started beside would hold.
constexpr const char* kNoPageLine = "web_port = 0\n";

inline bool StorePort(const std::string& configHome, uint32_t port) {
  return StoreSettings(configHome, std::to_string(port), kNoPageLine);
}

// The `port` value in the settings file under `configHome`, as written (QSettings writes
// "port=N", a person "port = N"); empty when there is none.
inline std::string StoredPortText(const std::string& configHome) {
  std::ifstream in(std::filesystem::path(configHome) / "quavix" / "quavix-server.conf");
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const auto trimmed = [](std::string text) {
      text.erase(0, text.find_first_not_of(" \t"));
      text.erase(text.find_last_not_of(" \t\r") + 1);
      return text;
    };
    if (trimmed(line.substr(0, equals)) == "port") return trimmed(line.substr(equals + 1));
  }
  return "";
}

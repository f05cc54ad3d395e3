#pragma once
// The one TCP port rule, shared by the settings, the server's command line and the remote tool.
// Usable in constant expressions, so the settings table can check its defaults as it compiles.

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

// Where the server listens unless its settings say otherwise, and where the remote tool looks
// when it is given no port.
constexpr uint16_t kDefaultPort = 17495;

// The same rule for any whole number within [low, high] (volumes, times, a process id): digits
// only (no sign, blank or trailing text); "007" is 7.
constexpr std::optional<long> ParseDecimal(std::string_view text, long low, long high) {
  if (text.empty()) return std::nullopt;
  long number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (number > (std::numeric_limits<long>::max() - digit) / 10) return std::nullopt;
    number = number * 10 + digit;
  }
  if (number < low || number > high) return std::nullopt;
  return number;
}

// Whole-string decimal 1..65535.
constexpr std::optional<uint16_t> ParsePort(std::string_view text) {
  const std::optional<long> number = ParseDecimal(text, 1, 65535);
  if (!number) return std::nullopt;
  return static_cast<uint16_t>(*number);
}

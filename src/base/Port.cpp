#include "base/Port.h"

#include <charconv>

std::optional<long> ParseDecimal(std::string_view text, long low, long high) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  long number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (number < low || number > high) return std::nullopt;
  return number;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  const std::optional<long> number = ParseDecimal(text, 1, 65535);
  if (!number) return std::nullopt;
  return static_cast<uint16_t>(*number);
}

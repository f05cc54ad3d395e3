#include "base/Port.h"

#include <charconv>

std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  unsigned long number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (number < 1 || number > 65535) return std::nullopt;
  return static_cast<uint16_t>(number);
}

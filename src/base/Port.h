#pragma once
// The one TCP port rule, shared by the settings, the server's command line and the remote tool.

#include <cstdint>
#include <optional>
#include <string_view>

constexpr uint16_t kDefaultPort = 17495;

// Whole-string decimal 1..65535: digits only (no sign, blank or trailing text); "007" is 7.
std::optional<uint16_t> ParsePort(std::string_view text);

// The same rule for any whole number within [low, high] (volumes, times, a process id).
std::optional<long> ParseDecimal(std::string_view text, long low, long high);

#pragma once
// The text messages a page sends on its WebSocket: one command word, then its arguments, each
// separated by one space, printable ASCII only, at most 256 bytes in all ("answer ID HMAC").
// Anything else is not a command, and the socket that sent it is closed. Each feature then
// checks its own words: the argument count exactly, and each argument's characters and length.
// Any thread; no state.

#include <optional>
#include <string_view>
#include <vector>

inline constexpr size_t kLongestPageCommand = 256;

struct PageCommand {
  std::string_view word;
  std::vector<std::string_view> arguments;  // views into the message
};

// Empty unless `text` is a command as above.
std::optional<PageCommand> ParsePageCommand(std::string_view text);

// Whether `text` is exactly `length` lower-case hex digits (the form ids, nonces and answers
// travel in).
bool IsLowerHex(std::string_view text, size_t length);

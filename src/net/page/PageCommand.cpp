#include "net/page/PageCommand.h"

std::optional<PageCommand> ParsePageCommand(std::string_view text) {
  if (text.empty() || text.size() > kLongestPageCommand) return std::nullopt;
  PageCommand command;
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find(' ', start), text.size());
    const std::string_view part = text.substr(start, end - start);
    // An empty part is a leading, trailing or doubled space.
    if (part.empty()) return std::nullopt;
    for (const char c : part) {
      if (c <= ' ' || c > '~') return std::nullopt;
    }
    if (command.word.empty()) {
      command.word = part;
    } else {
      command.arguments.push_back(part);
    }
    if (end == text.size()) return command;
    start = end + 1;
  }
}

bool IsLowerHex(std::string_view text, size_t length) {
  if (text.size() != length) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

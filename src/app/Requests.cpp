#include "app/Requests.h"

#include "base/ShownText.h"

std::string RequestLine(std::string_view word, std::string_view argument) {
  std::string line(word);
  if (!argument.empty()) line.append(" ").append(argument);
  return line;
}

std::string ReplyLine(const Reply& reply) {
  return (reply.ok ? "ok " : "error ") + ShownText(reply.text, kLongestRequestLine - 8);
}

std::optional<Reply> ParseReply(std::string_view line) {
  for (const bool ok : {true, false}) {
    const std::string_view head = ok ? "ok " : "error ";
    if (line.substr(0, head.size()) == head)
      return Reply{ok, std::string(line.substr(head.size()))};
  }
  return std::nullopt;
}

void RequestTable::Add(std::string word, Handler handler) {
  handlers_[std::move(word)] = std::move(handler);
}

std::string RequestTable::Answer(std::string_view line) const {
  const size_t space = line.find(' ');
  const std::string_view word = line.substr(0, space);
  const auto found = handlers_.find(word);
  if (found == handlers_.end()) {
    return ReplyLine({false, "unknown request '" + std::string(word) + "'"});
  }
  const std::string argument(space == std::string_view::npos ? "" : line.substr(space + 1));
  return ReplyLine(found->second(argument));
}

#include "remote/ServerBrowser.h"

#include <unistd.h>

#include "base/ShownText.h"
#include "remote/ChildStep.h"

namespace {

// The child's answer: "S", then for each server its name, host, number of endpoints and the
// endpoints, each ended by a NUL (no name the responder gives holds one); or "E" and the error.
std::string Serialized(const std::vector<FoundServer>& found) {
  std::string text = "S";
  for (const FoundServer& server : found) {
    for (const std::string& field :
         {server.name, server.host, std::to_string(server.endpoints.size())}) {
      text.append(field).push_back('\0');
    }
    for (const std::string& endpoint : server.endpoints) text.append(endpoint).push_back('\0');
  }
  return text;
}

std::vector<FoundServer> Deserialized(const std::string& text) {
  std::vector<std::string> fields;
  for (size_t at = 1, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) {
    fields.push_back(text.substr(at, end - at));
  }
  std::vector<FoundServer> found;
  for (size_t at = 0; at + 3 <= fields.size();) {
    FoundServer& server = found.emplace_back();
    server.name = fields[at];
    server.host = fields[at + 1];
    const size_t count = std::stoul("0" + fields[at + 2]);
    at += 3;
    for (size_t i = 0; i < count && at < fields.size(); ++i)
      server.endpoints.push_back(fields[at++]);
  }
  return found;
}

}  // namespace

BrowseResult BrowseServers(int browseMs, int limitMs, int stopFd, std::vector<FoundServer>* found,
                           std::string* error) {
  std::string answer;
  const ChildStepResult result = RunChildStep(
      [browseMs](int fd) {
        std::vector<FoundServer> servers;
        std::string why;
        const std::string reply =
            BrowseWithResponder(browseMs, &servers, &why) == BrowseResult::Done
                ? Serialized(servers)
                : "E" + why;
        return write(fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size()) ? 0 : 1;
      },
      limitMs, stopFd, &answer);
  switch (result) {
    case ChildStepResult::Stopped:
      return BrowseResult::Stopped;
    case ChildStepResult::TimedOut:
      *error = "avahi-daemon is not answering";
      return BrowseResult::Failed;
    case ChildStepResult::Failed:
    case ChildStepResult::Done:
      break;
  }
  if (result != ChildStepResult::Done || answer.empty() || answer[0] != 'S') {
    *error = answer.size() > 1 ? answer.substr(1) : "the browse failed";
    return BrowseResult::Failed;
  }
  *found = Deserialized(answer);
  return BrowseResult::Done;
}

std::string FoundServerLine(const FoundServer& server) {
  // A DNS name is at most 255 bytes; this never cuts one, however it is escaped.
  constexpr size_t kLongest = 4 * 256;
  std::string line = ShownText(server.name, kLongest) + "\t" + ShownText(server.host, kLongest);
  for (const std::string& endpoint : server.endpoints) line += "\t" + endpoint;
  return line;
}

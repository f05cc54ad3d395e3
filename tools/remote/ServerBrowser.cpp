#include "remote/ServerBrowser.h"

std::string FoundServerLine(const FoundServer& server) {
  std::string line = server.name + "\t" + server.host;
  for (const std::string& endpoint : server.endpoints) line += "\t" + endpoint;
  return line;
}

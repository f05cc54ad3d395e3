#pragma once
// Finding servers by name: the DNS-SD services of type kServiceType on the local network.

#include <string>
#include <vector>

struct FoundServer {
  std::string name;                    // the instance name, "Quavix Server on HOST"
  std::string host;                    // the host name the service points at
  std::vector<std::string> endpoints;  // "192.0.2.1:17495", "[fe80::1%eth0]:17495"
};

enum class BrowseResult { Done, Failed, Stopped };

// Asks the system's DNS-SD responder for `browseMs` and fills `found`, sorted by name, with each
// server that had at least one address (never an empty one). Failed, with `error`, when the
// responder cannot be asked; Stopped when `stopFd` (or -1) became readable.
BrowseResult BrowseServers(int browseMs, int stopFd, std::vector<FoundServer>* found,
                           std::string* error);

// NAME, HOST and each endpoint, separated by tabs.
std::string FoundServerLine(const FoundServer& server);

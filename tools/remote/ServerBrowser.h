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
// server that had at least one address (never an empty one): one IPv4 and one IPv6 address for
// each network interface it was seen on. The responder is asked from a child process, so the
// answer comes within `limitMs` whatever the responder does. Failed, with `error`, when the
// responder is missing, cannot be asked or does not answer in time; Stopped when `stopFd` (or
// -1) became readable.
BrowseResult BrowseServers(int browseMs, int limitMs, int stopFd, std::vector<FoundServer>* found,
                           std::string* error);

// NAME, HOST and each endpoint, separated by tabs; control characters in the name and the host
// (which anyone on the network chooses) shown escaped, so that a line has exactly its fields.
std::string FoundServerLine(const FoundServer& server);

// linux/: asks the responder itself, waiting as long as it takes; Done or Failed.
BrowseResult BrowseWithResponder(int browseMs, std::vector<FoundServer>* found, std::string* error);

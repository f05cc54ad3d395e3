// BrowseWithResponder over avahi-daemon, through Avahi's client library on a loop of our own.

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/timeval.h>
#include <net/if.h>

#include <algorithm>
#include <map>
#include <memory>

#include "net/discovery/DnsSdService.h"
#include "remote/ServerBrowser.h"

namespace {

struct Browse {
  AvahiSimplePoll* poll = nullptr;
  AvahiClient* client = nullptr;
  std::map<std::string, FoundServer> servers;  // by instance name
};

std::string Endpoint(const AvahiAddress& address, AvahiIfIndex interface, uint16_t port) {
  char text[AVAHI_ADDRESS_STR_MAX] = {};
  avahi_address_snprint(text, sizeof text, &address);
  if (address.proto == AVAHI_PROTO_INET) return std::string(text) + ":" + std::to_string(port);
  std::string host = text;
  // A link-local address is only reachable through the interface it was seen on.
  const uint8_t* bytes = address.data.ipv6.address;
  char name[IF_NAMESIZE] = {};
  if (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80 && if_indextoname(interface, name)) {
    host += std::string("%") + name;
  }
  return "[" + host + "]:" + std::to_string(port);
}

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                AvahiResolverEvent event, const char* name, const char*, const char*,
                const char* hostName, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                AvahiLookupResultFlags, void* context) {
  auto* browse = static_cast<Browse*>(context);
  if (event == AVAHI_RESOLVER_FOUND && address != nullptr && name != nullptr) {
    FoundServer& server = browse->servers[name];
    server.name = name;
    if (hostName != nullptr) server.host = hostName;
    const std::string endpoint = Endpoint(*address, interface, port);
    if (std::find(server.endpoints.begin(), server.endpoints.end(), endpoint) ==
        server.endpoints.end()) {
      server.endpoints.push_back(endpoint);
    }
  }
  avahi_service_resolver_free(resolver);
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* context) {
  auto* browse = static_cast<Browse*>(context);
  if (event != AVAHI_BROWSER_NEW) return;
  // One resolver per address family, so a server is listed with both of its addresses.
  for (AvahiProtocol family : {AVAHI_PROTO_INET, AVAHI_PROTO_INET6}) {
    avahi_service_resolver_new(browse->client, interface, protocol, name, type, domain, family,
                               static_cast<AvahiLookupFlags>(0), &OnResolved, browse);
  }
}

void OnClientState(AvahiClient*, AvahiClientState, void*) {}

void OnDeadline(AvahiTimeout*, void* context) {
  avahi_simple_poll_quit(static_cast<Browse*>(context)->poll);
}

}  // namespace

BrowseResult BrowseWithResponder(int browseMs, std::vector<FoundServer>* found,
                                 std::string* error) {
  Browse browse;
  std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(avahi_simple_poll_new(),
                                                                           &avahi_simple_poll_free);
  if (!poll) {
    *error = "cannot start Avahi's event loop";
    return BrowseResult::Failed;
  }
  browse.poll = poll.get();
  const AvahiPoll* api = avahi_simple_poll_get(browse.poll);
  int failure = 0;
  std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
      avahi_client_new(api, static_cast<AvahiClientFlags>(0), &OnClientState, nullptr, &failure),
      &avahi_client_free);
  if (!client) {
    *error = failure == AVAHI_ERR_NO_DAEMON ? std::string("avahi-daemon is not running")
                                            : std::string("Avahi: ") + avahi_strerror(failure);
    return BrowseResult::Failed;
  }
  browse.client = client.get();
  // Freed with the client, as are the resolvers still at work when the time is up.
  if (avahi_service_browser_new(browse.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kServiceType,
                                nullptr, static_cast<AvahiLookupFlags>(0), &OnBrowsed,
                                &browse) == nullptr) {
    *error = std::string("Avahi: ") + avahi_strerror(avahi_client_errno(browse.client));
    return BrowseResult::Failed;
  }
  struct timeval deadline;
  avahi_elapse_time(&deadline, browseMs, 0);
  api->timeout_new(api, &deadline, &OnDeadline, &browse);
  avahi_simple_poll_loop(browse.poll);
  client.reset();  // before the loop that it uses goes
  found->clear();
  for (auto& [name, server] : browse.servers) {
    if (!server.endpoints.empty()) found->push_back(std::move(server));
  }
  return BrowseResult::Done;
}

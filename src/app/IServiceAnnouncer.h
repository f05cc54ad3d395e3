#pragma once
// Makes the running server findable by name on the local network: the DNS-SD service
// kServiceType on the listening port, named ServiceInstanceName(host), TXT kServiceTxt.
// Announcing never decides whether the server serves: an implementation logs each kind of
// failure once and carries on.

#include <cstdint>
#include <memory>
#include <string>

constexpr const char* kServiceType = "_quavix._tcp";
constexpr const char* kServiceTxt = "txtvers=1";

// "Quavix Server on HOST", HOST being `hostName` up to its first dot; cut to the 63 bytes a DNS
// label holds, never inside a UTF-8 character.
std::string ServiceInstanceName(const std::string& hostName);

class IServiceAnnouncer {
 public:
  virtual ~IServiceAnnouncer() = default;  // withdraws what is announced
  // Main thread. Announces the service on `port`, moving an earlier announcement there; the
  // same port again changes nothing. Returns at once: the system's responder takes it when it
  // can, also when it starts after us or restarts.
  virtual void Announce(uint16_t port) = 0;
  // Main thread. Withdraws the announcement; nothing when there is none.
  virtual void Withdraw() = 0;
};

// linux/ or win32/: the system's DNS-SD responder (Avahi, or dnsapi.dll where it has it).
std::unique_ptr<IServiceAnnouncer> CreateServiceAnnouncer();

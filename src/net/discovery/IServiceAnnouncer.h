#pragma once
// Makes the running server findable by name on the local network: the DNS-SD service
// kServiceType on the listening port, named ServiceInstanceName(HostName()), TXT kServiceTxt
// (net/discovery/DnsSdService.h). Announcing never decides whether the server serves: an
// implementation logs each kind of failure once and carries on.

#include <cstdint>
#include <memory>

class IServiceAnnouncer {
 public:
  // Stops as Stop does, without a bound; withdraws what is announced.
  virtual ~IServiceAnnouncer() = default;
  // Main thread. Announces the service on `port`, moving an earlier announcement there; the
  // same port again changes nothing. Returns at once: the system's responder takes it when it
  // can, also when it starts after us or restarts.
  virtual void Announce(uint16_t port) = 0;
  // Main thread. Withdraws the announcement; nothing when there is none. Returns at once.
  virtual void Withdraw() = 0;
  // Main thread, at quit. Finishes what was asked (a withdrawal reaches the responder) and lets
  // go of the responder, waiting at most `boundMs`. False when the responder does not answer in
  // that time: the object is then still inside a call to it and must not be destroyed; the
  // process ends without destroying it.
  virtual bool Stop(int boundMs) = 0;
};

// linux/ or win32/: the system's DNS-SD responder (Avahi, or dnsapi.dll where it has it),
// announcing this computer's HostName().
std::unique_ptr<IServiceAnnouncer> CreateServiceAnnouncer();

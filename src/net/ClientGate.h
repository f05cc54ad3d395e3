#pragma once
// Who may be served: the networks clients may come from and how many may be connected at once.
// A refused connection is closed before the greeting, so a scanner learns nothing, and costs no
// reader thread. Refusals are logged, but never more than one line per source address a minute
// (and one line a minute for the client bound), so a scan cannot flood the log.
//
// Any thread: the accept threads ask, the main thread may change the policy meanwhile.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "net/IClock.h"
#include "net/IpAddress.h"

struct AccessPolicy {
  bool anyone = false;              // every address may connect
  std::vector<IpNetwork> networks;  // else these; empty means LocalNetworks()
  size_t maxClients = 4096;
};

// Whether `policy` lets a client from `peer` in (the client bound aside). Any thread.
bool Allows(const AccessPolicy& policy, const IpAddress& peer);

class ClientGate {
 public:
  explicit ClientGate(IClock& clock) : clock_(clock) {}

  void SetPolicy(AccessPolicy policy);
  AccessPolicy Policy() const;

  // Whether a client from `peer` may be served while `connected` clients are. Logs a refusal
  // (rate-limited as above).
  bool Admit(const IpAddress& peer, size_t connected);

 private:
  // Under the mutex: whether a line for `peer` is due, remembering that one was written.
  bool SourceLineDue(const IpAddress& peer, uint32_t now);

  IClock& clock_;
  mutable std::mutex mutex_;
  AccessPolicy policy_;
  // When a refusal from each address was last logged. Bounded: entries older than the quiet
  // minute are dropped when it fills, and a source beyond the bound goes unlogged.
  std::map<IpAddress, uint32_t> lastLogged_;
  bool boundLogged_ = false;
  uint32_t boundLoggedAt_ = 0;
};

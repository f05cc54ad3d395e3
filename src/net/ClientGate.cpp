#include "net/ClientGate.h"

#include "base/Log.h"

namespace {

constexpr uint32_t kQuietMs = 60000;
constexpr size_t kMaxRemembered = 4096;

}  // namespace

void ClientGate::SetPolicy(AccessPolicy policy) {
  std::lock_guard lock(mutex_);
  policy_ = std::move(policy);
}

AccessPolicy ClientGate::Policy() const {
  std::lock_guard lock(mutex_);
  return policy_;
}

bool Allows(const AccessPolicy& policy, const IpAddress& peer) {
  if (policy.anyone) return true;
  const std::vector<IpNetwork>& networks =
      policy.networks.empty() ? LocalNetworks() : policy.networks;
  for (const IpNetwork& network : networks) {
    if (network.Contains(peer)) return true;
  }
  return false;
}

bool ClientGate::SourceLineDue(const IpAddress& peer, uint32_t now) {
  auto found = lastLogged_.find(peer);
  if (found != lastLogged_.end()) {
    if (now - found->second < kQuietMs) return false;
    found->second = now;
    return true;
  }
  if (lastLogged_.size() >= kMaxRemembered) {
    std::erase_if(lastLogged_, [now](const auto& entry) { return now - entry.second >= kQuietMs; });
    if (lastLogged_.size() >= kMaxRemembered) return false;
  }
  lastLogged_.emplace(peer, now);
  return true;
}

bool ClientGate::Admit(const IpAddress& peer, size_t connected) {
  std::unique_lock lock(mutex_);
  const uint32_t now = clock_.NowMs();
  if (!Allows(policy_, peer)) {
    const bool due = SourceLineDue(peer, now);
    lock.unlock();
    if (due) {
      LogError("refused a client from " + IpAddressText(peer) +
               ": not in the allowed networks (setting allow)");
    }
    return false;
  }
  if (connected < policy_.maxClients) return true;
  const bool due = !boundLogged_ || now - boundLoggedAt_ >= kQuietMs;
  if (due) {
    boundLogged_ = true;
    boundLoggedAt_ = now;
  }
  const size_t bound = policy_.maxClients;
  lock.unlock();
  if (due) {
    LogError("refused a client from " + IpAddressText(peer) + ": " + std::to_string(bound) +
             " clients are connected already (setting max_clients)");
  }
  return false;
}

#include "net/page/pairing/PairingCodes.h"

#include "net/page/pairing/Proofs.h"

namespace {

// A used or lapsed code is told apart from a wrong one for an hour, so the page can say which.
constexpr uint32_t kRememberedMs = 60 * 60 * 1000;
constexpr size_t kMostRemembered = 16;

}  // namespace

void PairingCodes::Forget(uint32_t now) {
  while (!issued_.empty() && now - issued_.front().issuedAt >= kRememberedMs) {
    issued_.pop_front();
  }
}

std::string PairingCodes::Issue() {
  Bytes code = RandomBytes(kCodeBytes);
  if (code.empty()) return "";
  std::string text = HexText(code);
  std::lock_guard lock(mutex_);
  const uint32_t now = clock_.NowMs();
  Forget(now);
  if (issued_.size() == kMostRemembered) issued_.pop_front();
  issued_.push_back({std::move(code), now, false});
  return text;
}

RedeemedCode PairingCodes::Redeem(std::span<const uint8_t> nonce, std::span<const uint8_t> proof) {
  std::lock_guard lock(mutex_);
  const uint32_t now = clock_.NowMs();
  Forget(now);
  // Every remembered code is tried, so the time taken says nothing about which one matched.
  Issued* match = nullptr;
  for (Issued& issued : issued_) {
    const std::optional<Sha256Digest> expected = CodeProof(issued.code, nonce);
    if (expected && SameSecret(*expected, proof)) match = &issued;
  }
  if (match == nullptr) return {};
  if (match->used) return {CodeCheck::kUsed, {}};
  if (now - match->issuedAt >= kLifetimeMs) return {CodeCheck::kLapsed, {}};
  match->used = true;
  return {CodeCheck::kAccepted, match->code};
}

#pragma once
// The one-time codes a phone pairs with. Each is 128 bits from the CSPRNG, shown only on the
// computer (the pairing page's QR code, or the terminal), and carried in the link's fragment,
// which a browser never sends. The phone proves it holds one with a code proof (Proofs.h).
// A code pairs one phone, then is used; it lapses ten minutes after it was issued.
//
// Any thread.

#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>

#include "net/IClock.h"
#include "net/page/pairing/Secrets.h"

enum class CodeCheck {
  kAccepted,  // a live code, now used
  kUsed,      // a code that paired a phone already
  kLapsed,    // a code older than its lifetime
  kWrong,     // no code this server issued lately
};

struct RedeemedCode {
  CodeCheck check = CodeCheck::kWrong;
  Bytes code;  // when accepted: the code, to derive the device's key from
};

class PairingCodes {
 public:
  static constexpr size_t kCodeBytes = 16;
  static constexpr uint32_t kLifetimeMs = 10 * 60 * 1000;

  explicit PairingCodes(IClock& clock) : clock_(clock) {}

  // A new code as lower-case hex (what the link carries). Empty when the CSPRNG fails. Codes
  // issued before stay valid for their own ten minutes.
  std::string Issue();
  // Spends the code for which `proof` is the code proof of `nonce`, if it is live.
  RedeemedCode Redeem(std::span<const uint8_t> nonce, std::span<const uint8_t> proof);

 private:
  struct Issued {
    Bytes code;
    uint32_t issuedAt = 0;
    bool used = false;
  };
  // Under the mutex: drops codes too old to be worth telling apart from wrong ones.
  void Forget(uint32_t now);

  IClock& clock_;
  std::mutex mutex_;
  // Oldest first. Bounded, so a page reloaded all day holds no more than this.
  std::deque<Issued> issued_;
};

#pragma once
// The three HMACs of pairing, computed the same way by the page's script. A nonce is fresh for
// every socket, so an answer recorded on one socket is worth nothing on the next.
//   code proof:  HMAC-SHA-256(code, nonce)                 the phone read this code
//   device key:  HMAC-SHA-256(code, nonce || "device key")  never sent: each side derives it
//   key answer:  HMAC-SHA-256(key, nonce)                  the phone holds this device's key
// Neither the code nor the key ever crosses the network, so a listener who records a pairing
// learns nothing that lets it in later.
// Any thread. Empty when the crypto library fails (logged there).

#include <optional>
#include <span>

#include "net/page/pairing/Secrets.h"

inline constexpr size_t kNonceBytes = 16;

std::optional<Sha256Digest> CodeProof(std::span<const uint8_t> code,
                                      std::span<const uint8_t> nonce);
std::optional<Sha256Digest> DeviceKey(std::span<const uint8_t> code,
                                      std::span<const uint8_t> nonce);
std::optional<Sha256Digest> KeyAnswer(std::span<const uint8_t> key, std::span<const uint8_t> nonce);

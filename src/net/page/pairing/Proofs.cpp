#include "net/page/pairing/Proofs.h"

std::optional<Sha256Digest> CodeProof(std::span<const uint8_t> code,
                                      std::span<const uint8_t> nonce) {
  return HmacSha256(code, nonce);
}

std::optional<Sha256Digest> DeviceKey(std::span<const uint8_t> code,
                                      std::span<const uint8_t> nonce) {
  Bytes message(nonce.begin(), nonce.end());
  const std::span<const uint8_t> label = TextBytes("device key");
  message.insert(message.end(), label.begin(), label.end());
  return HmacSha256(code, message);
}

std::optional<Sha256Digest> KeyAnswer(std::span<const uint8_t> key,
                                      std::span<const uint8_t> nonce) {
  return HmacSha256(key, nonce);
}

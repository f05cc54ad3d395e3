// The kernel's CSPRNG and OpenSSL's HMAC.
#include "net/page/pairing/Secrets.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>

#include <cerrno>

#include "base/Log.h"

bool FillRandom(std::span<uint8_t> out) {
  size_t filled = 0;
  while (filled < out.size()) {
    // getrandom hands out at most 32 MiB a call and may be interrupted by a signal before the
    // pool is ready; it blocks only until the pool has been seeded once after boot.
    const ssize_t got = getrandom(out.data() + filled, out.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      LogSystemError("getrandom", errno);
      return false;
    }
    filled += static_cast<size_t>(got);
  }
  return true;
}

std::optional<Sha256Digest> HmacSha256(std::span<const uint8_t> key,
                                       std::span<const uint8_t> message) {
  Sha256Digest digest{};
  unsigned int length = 0;
  // HMAC reads no key or message byte through a null pointer when the length is 0, but it does
  // refuse a null key; an empty span may carry one.
  static const uint8_t kNothing = 0;
  if (HMAC(EVP_sha256(), key.empty() ? &kNothing : key.data(), static_cast<int>(key.size()),
           message.empty() ? &kNothing : message.data(), message.size(), digest.data(),
           &length) == nullptr ||
      length != digest.size()) {
    char reason[256] = "unknown reason";
    if (const unsigned long code = ERR_get_error(); code != 0) {
      ERR_error_string_n(code, reason, sizeof reason);
    }
    ERR_clear_error();
    LogError(std::string("HMAC-SHA-256 failed: ") + reason);
    return std::nullopt;
  }
  return digest;
}

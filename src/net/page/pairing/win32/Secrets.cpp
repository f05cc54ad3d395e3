// BCrypt's system RNG and HMAC.
#include "net/page/pairing/Secrets.h"

#include <windows.h>
// bcrypt.h after windows.h, which defines the types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/Log.h"

namespace {

std::string StatusText(NTSTATUS status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

bool Succeeded(NTSTATUS status, const char* what) {
  if (BCRYPT_SUCCESS(status)) return true;
  LogError(std::string(what) + " failed: NTSTATUS " + StatusText(status));
  return false;
}

// BCrypt's handles are pointers; each is closed on every path.
struct CloseProvider {
  void operator()(BCRYPT_ALG_HANDLE provider) const { BCryptCloseAlgorithmProvider(provider, 0); }
};
struct DestroyHash {
  void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};
using Provider = std::unique_ptr<void, CloseProvider>;
using Hash = std::unique_ptr<void, DestroyHash>;

}  // namespace

bool FillRandom(std::span<uint8_t> out) {
  size_t filled = 0;
  while (filled < out.size()) {
    const ULONG chunk = static_cast<ULONG>(std::min<size_t>(out.size() - filled, 1u << 20));
    if (!Succeeded(
            BCryptGenRandom(nullptr, out.data() + filled, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG),
            "BCryptGenRandom")) {
      return false;
    }
    filled += chunk;
  }
  return true;
}

std::optional<Sha256Digest> HmacSha256(std::span<const uint8_t> key,
                                       std::span<const uint8_t> message) {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr,
                                             BCRYPT_ALG_HANDLE_HMAC_FLAG),
                 "BCryptOpenAlgorithmProvider(HMAC-SHA-256)")) {
    return std::nullopt;
  }
  const Provider provider(opened);
  // BCrypt's parameters are not const, but it only reads the key and the message (an input
  // of BCryptCreateHash and BCryptHashData); copying the key would leave it on the heap.
  auto* secret = const_cast<UCHAR*>(key.data());
  auto* data = const_cast<UCHAR*>(message.data());
  BCRYPT_HASH_HANDLE created = nullptr;
  if (!Succeeded(BCryptCreateHash(provider.get(), &created, nullptr, 0, secret,
                                  static_cast<ULONG>(key.size()), 0),
                 "BCryptCreateHash")) {
    return std::nullopt;
  }
  const Hash hash(created);
  Sha256Digest digest{};
  if (!Succeeded(BCryptHashData(hash.get(), data, static_cast<ULONG>(message.size()), 0),
                 "BCryptHashData") ||
      !Succeeded(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0),
                 "BCryptFinishHash")) {
    return std::nullopt;
  }
  return digest;
}

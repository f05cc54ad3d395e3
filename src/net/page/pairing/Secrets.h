#pragma once
// What pairing needs from the system's cryptography: unpredictable bytes and HMAC-SHA-256.
// Each platform answers with its own library (linux/ or win32/Secrets.cpp: the kernel's
// getrandom and OpenSSL's libcrypto, or BCrypt); nothing here computes a hash by hand.
// Any thread. A failure is logged once, where the library reports it, with its reason.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Sha256Digest = std::array<uint8_t, 32>;

// Fills `out` from the system's CSPRNG. False when it cannot (logged).
bool FillRandom(std::span<uint8_t> out);
// HMAC-SHA-256 of `message` under `key`. Empty when the library fails (logged).
std::optional<Sha256Digest> HmacSha256(std::span<const uint8_t> key,
                                       std::span<const uint8_t> message);

// The portable rest (Secrets.cpp).

// `count` bytes from the CSPRNG; empty when it fails.
Bytes RandomBytes(size_t count);
// Whether `a` and `b` hold the same bytes, in a time that depends only on their lengths: an
// answer compared with an early exit would tell a guesser how much of it was right.
bool SameSecret(std::span<const uint8_t> a, std::span<const uint8_t> b);
// Lower-case hex, two digits a byte.
std::string HexText(std::span<const uint8_t> bytes);
// Exactly lower-case hex of an even length (what HexText writes); empty on anything else.
std::optional<Bytes> ParseHex(std::string_view text);
// The bytes of a text, for hashing it.
std::span<const uint8_t> TextBytes(std::string_view text);

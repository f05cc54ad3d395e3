#pragma once
// The bytes on the wire: a four-byte greeting, one-byte states both ways, a keep-alive byte.

#include <array>
#include <cstdint>

#include "base/VolumeState.h"

// 0x19C8DE00 in network byte order.
constexpr std::array<uint8_t, 4> kGreeting = {0x19, 0xC8, 0xDE, 0x00};
constexpr uint8_t kKeepAliveByte = 0xFF;
constexpr uint32_t HOLD_OFF_MS = 500;

enum class ClientByteKind { StateRequest, Invalid, KeepAlive };

// Bit 7 is muted, bits 0..6 the volume. Only the lowest bit of muted and the low 7 bits of
// volume reach the byte; callers pass valid states.
uint8_t EncodeStateByte(const VolumeState& state);

// Classifies one byte a client sent; fills `request` for a StateRequest only.
ClientByteKind DecodeClientByte(uint8_t byte, VolumeState* request);

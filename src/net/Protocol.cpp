#include "net/Protocol.h"

uint8_t EncodeStateByte(const VolumeState& state) {
  return static_cast<uint8_t>((state.volume & 0x7F) | ((state.muted & 1) << 7));
}

ClientByteKind DecodeClientByte(uint8_t byte, VolumeState* request) {
  if (byte == kKeepAliveByte) return ClientByteKind::KeepAlive;
  const uint8_t volume = byte & 0x7F;
  if (volume > 100) return ClientByteKind::Invalid;
  request->muted = static_cast<uint8_t>(byte >> 7);
  request->volume = volume;
  return ClientByteKind::StateRequest;
}

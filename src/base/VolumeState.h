#pragma once
// The state the whole system exchanges: the protocol, the audio layer and the remote tool.

#include <cstdint>
#include <ostream>

struct VolumeState {
  uint8_t muted = 0;     // 0 or 1
  int32_t volume = 100;  // percent, 0 to 100
};

inline bool operator==(const VolumeState& a, const VolumeState& b) {
  return a.muted == b.muted && a.volume == b.volume;
}
inline bool operator!=(const VolumeState& a, const VolumeState& b) { return !(a == b); }

// For test failure messages: "muted 40" / "unmuted 40", never the raw bytes.
inline std::ostream& operator<<(std::ostream& out, const VolumeState& state) {
  return out << (state.muted ? "muted " : "unmuted ") << state.volume;
}

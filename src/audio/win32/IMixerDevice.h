#pragma once
// Destination line 0 of mixer device 0, as the polled mixer backend sees it.

#include <cstdint>
#include <vector>

constexpr uint32_t kMixerControlTypeMute = 0x20010002;
constexpr uint32_t kMixerControlTypeVolume = 0x50030001;

struct MixerLineInfo {
  uint32_t lineId = 0;
  uint32_t controlCount = 0;
};

struct MixerControlInfo {
  uint32_t controlId = 0;
  uint32_t controlType = 0;
  int32_t minimum = 0;  // Bounds, used as signed 32-bit in all arithmetic
  int32_t maximum = 0;
};

// Main thread for everything but SetControlValue, which reader threads call, several at once
// and while the main thread reads.
class IMixerDevice {
 public:
  virtual ~IMixerDevice() = default;
  // Line information of destination 0. False: no such line.
  virtual bool GetDestinationLine(MixerLineInfo* line) = 0;
  // The line's controls in the order the mixer lists them (at most `count`).
  virtual bool GetLineControls(const MixerLineInfo& line,
                               std::vector<MixerControlInfo>* controls) = 0;
  // Read `channels` 32-bit values of a control (volume: 2 channels, mute: 1).
  virtual bool GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) = 0;
  // Write one value to every channel of a control.
  virtual bool SetControlValue(uint32_t controlId, uint32_t value) = 0;
};

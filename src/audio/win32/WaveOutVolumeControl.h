#pragma once
// The volume control over destination 0 of mixer 0, which tells nothing by itself, so it is
// polled (PolledVolumeControl).

#include <cstdint>
#include <memory>

#include "audio/PolledVolumeControl.h"
#include "audio/win32/IMixerDevice.h"

class WaveOutVolumeControl final : public PolledVolumeControl {
 public:
  // Installs the new object as the poll target. `timer` must outlive the object.
  WaveOutVolumeControl(std::unique_ptr<IMixerDevice> device, IPollTimer& timer);

  InitResult Initialize() override;
  bool Shutdown() override;
  // A failed volume write stops before the mute write.
  bool SetState(const VolumeState* state) override;

 private:
  bool ReadDevice(VolumeState* state) override;

  std::unique_ptr<IMixerDevice> device_;
  // Written by Initialize before any other thread can reach the object; read-only afterwards.
  uint32_t volumeControlId_ = 0xFFFFFFFF;
  int32_t volumeMinimum_ = 0;
  int32_t volumeMaximum_ = 0;
  uint32_t muteControlId_ = 0xFFFFFFFF;
};

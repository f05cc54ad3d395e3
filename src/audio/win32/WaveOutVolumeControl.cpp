#include "audio/win32/WaveOutVolumeControl.h"

#include <vector>

#include "audio/VolumeConversions.h"

WaveOutVolumeControl::WaveOutVolumeControl(std::unique_ptr<IMixerDevice> device, IPollTimer& timer)
    : PolledVolumeControl(timer), device_(std::move(device)) {}

// The mutexes are std::mutex members: they exist from construction and cannot fail.
InitResult WaveOutVolumeControl::Initialize() {
  MixerLineInfo line;
  if (!device_->GetDestinationLine(&line)) return InitResult::NoDevice;
  if (line.controlCount == 0) return InitResult::NoDevice;
  std::vector<MixerControlInfo> controls;
  if (!device_->GetLineControls(line, &controls)) return InitResult::NoDevice;

  bool haveMute = false;
  bool haveVolume = false;
  for (const MixerControlInfo& control : controls) {
    if (control.controlType == kMixerControlTypeMute && !haveMute) {
      muteControlId_ = control.controlId;
      haveMute = true;
    } else if (control.controlType == kMixerControlTypeVolume && !haveVolume) {
      volumeControlId_ = control.controlId;
      volumeMinimum_ = control.minimum;
      volumeMaximum_ = control.maximum;
      haveVolume = true;
    }
  }
  if (!haveMute || !haveVolume) return InitResult::Failed;

  VolumeState first;
  if (!ReadDevice(&first)) return InitResult::Failed;
  StartPolling(first);
  return InitResult::Ok;
}

bool WaveOutVolumeControl::Shutdown() {
  StopPolling();
  return true;
}

bool WaveOutVolumeControl::SetState(const VolumeState* state) {
  if (!device_->SetControlValue(volumeControlId_,
                                PercentToRaw(state->volume, volumeMinimum_, volumeMaximum_))) {
    return false;
  }
  return device_->SetControlValue(muteControlId_, state->muted != 0 ? 1u : 0u);
}

bool WaveOutVolumeControl::ReadDevice(VolumeState* state) {
  uint32_t volume[2] = {0, 0};
  uint32_t mute = 0;
  if (!device_->GetControlValues(volumeControlId_, 2, volume)) return false;
  if (!device_->GetControlValues(muteControlId_, 1, &mute)) return false;
  state->volume = RawToPercent(volume[0], volume[1], volumeMinimum_, volumeMaximum_);
  state->muted = mute != 0 ? 1 : 0;
  return true;
}

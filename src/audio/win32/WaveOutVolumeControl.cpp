#include "audio/win32/WaveOutVolumeControl.h"

#include <vector>

#include "audio/VolumeConversions.h"

std::atomic<WaveOutVolumeControl*> WaveOutVolumeControl::pollTarget_{nullptr};

WaveOutVolumeControl::WaveOutVolumeControl(std::unique_ptr<IMixerDevice> device, IPollTimer& timer)
    : device_(std::move(device)), timer_(timer) {
  pollTarget_.store(this);
}

WaveOutVolumeControl::~WaveOutVolumeControl() {
  WaveOutVolumeControl* self = this;
  pollTarget_.compare_exchange_strong(self, nullptr);
}

WaveOutVolumeControl* WaveOutVolumeControl::PollTarget() {
  return pollTarget_.load();
}

void WaveOutVolumeControl::PollTimerProc() {
  if (WaveOutVolumeControl* target = pollTarget_.load()) target->Poll();
}

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
  if (!ReadDeviceState(&first)) return InitResult::Failed;
  timer_.Set(polled_.Start(first), &WaveOutVolumeControl::PollTimerProc);
  return InitResult::Ok;
}

bool WaveOutVolumeControl::Shutdown() {
  stopped_ = true;
  timer_.Kill();
  return true;
}

bool WaveOutVolumeControl::GetState(VolumeState* state) {
  polled_.Get(state);
  return true;
}

bool WaveOutVolumeControl::SetState(const VolumeState* state) {
  // A failed volume write stops before the mute write.
  if (!device_->SetControlValue(volumeControlId_,
                                PercentToRaw(state->volume, volumeMinimum_, volumeMaximum_))) {
    return false;
  }
  return device_->SetControlValue(muteControlId_, state->muted != 0 ? 1u : 0u);
}

void WaveOutVolumeControl::SetChangeCallback(VolumeChangeCallback callback, int32_t userData) {
  polled_.SetCallback(callback, userData);
}

void WaveOutVolumeControl::Poll() {
  if (stopped_) return;
  VolumeState reading;
  const bool read = ReadDeviceState(&reading);
  timer_.Set(polled_.Tick(read ? &reading : nullptr), &WaveOutVolumeControl::PollTimerProc);
}

bool WaveOutVolumeControl::ReadDeviceState(VolumeState* state) {
  uint32_t volume[2] = {0, 0};
  uint32_t mute = 0;
  if (!device_->GetControlValues(volumeControlId_, 2, volume)) return false;
  if (!device_->GetControlValues(muteControlId_, 1, &mute)) return false;
  state->volume = RawToPercent(volume[0], volume[1], volumeMinimum_, volumeMaximum_);
  state->muted = mute != 0 ? 1 : 0;
  return true;
}

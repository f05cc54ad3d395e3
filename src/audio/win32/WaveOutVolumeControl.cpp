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

  // No other thread can see the object yet, so the first reading goes in without the lock.
  if (!ReadDeviceState(&state_)) return InitResult::Failed;
  pollIntervalMs_ = kFirstPollIntervalMs;
  timer_.Set(pollIntervalMs_, &WaveOutVolumeControl::PollTimerProc);
  return InitResult::Ok;
}

bool WaveOutVolumeControl::Shutdown() {
  stopped_ = true;
  timer_.Kill();
  return true;
}

bool WaveOutVolumeControl::GetState(VolumeState* state) {
  std::lock_guard lock(stateMutex_);
  *state = state_;
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
  changeCallback_.Set(callback, userData);
}

void WaveOutVolumeControl::Poll() {
  if (stopped_) return;
  VolumeState reading;
  // A failed read is no news: the cache and the clients keep the last good state, and the
  // timer backs off as after a quiet tick. Treating the untouched default (unmuted, 100) as a
  // reading would broadcast a volume nobody set.
  if (!ReadDeviceState(&reading) || reading == state_) {
    BackOff();
  } else {
    {
      std::lock_guard lock(stateMutex_);
      state_ = reading;
    }
    // Only this thread writes the cache, so handing the callback the cache is race-free.
    changeCallback_.Report(state_);
    pollIntervalMs_ = kFirstPollIntervalMs;
  }
  timer_.Set(pollIntervalMs_, &WaveOutVolumeControl::PollTimerProc);
}

void WaveOutVolumeControl::BackOff() {
  const uint32_t doubled = pollIntervalMs_ * 2;
  pollIntervalMs_ = doubled >= kLongestPollIntervalMs ? kLongestPollIntervalMs : doubled;
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

#include "audio/PolledVolumeControl.h"

std::atomic<PolledVolumeControl*> PolledVolumeControl::pollTarget_{nullptr};

PolledVolumeControl::PolledVolumeControl(IPollTimer& timer) : timer_(timer) {
  pollTarget_.store(this);
}

PolledVolumeControl::~PolledVolumeControl() {
  PolledVolumeControl* self = this;
  pollTarget_.compare_exchange_strong(self, nullptr);
}

PolledVolumeControl* PolledVolumeControl::PollTarget() {
  return pollTarget_.load();
}

void PolledVolumeControl::PollTimerProc() {
  if (PolledVolumeControl* target = pollTarget_.load()) target->Poll();
}

bool PolledVolumeControl::GetState(VolumeState* state) {
  std::lock_guard lock(stateMutex_);
  *state = state_;
  return true;
}

void PolledVolumeControl::SetChangeCallback(VolumeChangeCallback callback, int32_t userData) {
  callback_.Set(callback, userData);
}

void PolledVolumeControl::StartPolling(const VolumeState& first) {
  {
    std::lock_guard lock(stateMutex_);
    state_ = first;
  }
  intervalMs_ = kFirstPollIntervalMs;
  timer_.Set(intervalMs_, &PolledVolumeControl::PollTimerProc);
}

void PolledVolumeControl::StopPolling() {
  stopped_ = true;
  timer_.Kill();
}

void PolledVolumeControl::Poll() {
  if (stopped_) return;
  VolumeState reading;
  // Only this thread writes the cache, so it is compared here without the lock.
  if (!ReadDevice(&reading) || reading == state_) {
    intervalMs_ =
        intervalMs_ * 2 >= kLongestPollIntervalMs ? kLongestPollIntervalMs : intervalMs_ * 2;
  } else {
    {
      std::lock_guard lock(stateMutex_);
      state_ = reading;
    }
    callback_.Report(reading);
    intervalMs_ = kFirstPollIntervalMs;
  }
  timer_.Set(intervalMs_, &PolledVolumeControl::PollTimerProc);
}

#pragma once
// Change detection of the polled backends (ALSA's mixer, the multimedia mixer): the cached
// state, the change callback, and the poll period: 20 ms after a change, doubling while
// nothing changes, at most 250 ms.

#include <cstdint>
#include <mutex>

#include "audio/ChangeCallback.h"
#include "audio/IVolumeControl.h"

class PolledState {
 public:
  static constexpr uint32_t kFirstPollIntervalMs = 20;
  static constexpr uint32_t kLongestPollIntervalMs = 250;

  // Main thread, before the first tick: the first reading, told to nobody. Returns the period
  // to the first tick.
  uint32_t Start(const VolumeState& first) {
    {
      std::lock_guard lock(mutex_);
      state_ = first;
    }
    intervalMs_ = kFirstPollIntervalMs;
    return intervalMs_;
  }

  // Any thread.
  void Get(VolumeState* state) {
    std::lock_guard lock(mutex_);
    *state = state_;
  }
  void SetCallback(VolumeChangeCallback callback, int32_t userData) {
    callback_.Set(callback, userData);
  }

  // Main thread, once a tick. `reading` is null when the device could not be read: that is no
  // news (treating it as one would broadcast a state nobody set). A reading that differs is
  // cached and reported. Returns the period to the next tick.
  uint32_t Tick(const VolumeState* reading) {
    // Only this thread writes the cache, so it is compared here without the lock.
    if (reading == nullptr || *reading == state_) {
      const uint32_t doubled = intervalMs_ * 2;
      intervalMs_ = doubled >= kLongestPollIntervalMs ? kLongestPollIntervalMs : doubled;
      return intervalMs_;
    }
    {
      std::lock_guard lock(mutex_);
      state_ = *reading;
    }
    callback_.Report(*reading);
    intervalMs_ = kFirstPollIntervalMs;
    return intervalMs_;
  }

 private:
  std::mutex mutex_;  // never held while the callback reports
  VolumeState state_;
  ChangeCallback callback_;
  uint32_t intervalMs_ = kFirstPollIntervalMs;  // main thread only
};

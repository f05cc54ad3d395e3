#pragma once
// The registered change callback of a backend, with the callback mutex that guards it. Every
// backend reports readings through one of these, so the rule "once a null callback was set, the
// old one is never called again" lives in one place.

#include <mutex>

#include "audio/IVolumeControl.h"

class ChangeCallback {
 public:
  // Any thread. Waits for a call running on another thread to finish.
  void Set(VolumeChangeCallback callback, int32_t userData) {
    std::lock_guard lock(mutex_);
    callback_ = callback;
    userData_ = userData;
  }

  // Any thread. Calls the registered callback, if any, with the callback mutex held; the
  // caller holds no lock of the backend's state, so the callback may call GetState.
  void Report(const VolumeState& state) {
    std::lock_guard lock(mutex_);
    if (callback_ != nullptr) callback_(userData_, &state);
  }

 private:
  std::mutex mutex_;
  VolumeChangeCallback callback_ = nullptr;
  int32_t userData_ = 0;
};

#pragma once
// A scriptable player: the test sets its status (reported as the real one is) and sees every
// command it was sent.

#include <mutex>
#include <utility>
#include <vector>

#include "media/IMediaControl.h"

class FakeMediaControl final : public IMediaControl {
 public:
  bool Start() override { return true; }
  void Stop() override {}
  bool Send(MediaCommand command) override {
    std::lock_guard lock(mutex_);
    sent_.push_back(command);
    return status_.controllable;
  }
  MediaStatus Status() override {
    std::lock_guard lock(mutex_);
    return status_;
  }
  void SetStatusCallback(MediaChangedCallback callback) override {
    callback_ = std::move(callback);
  }

  // The player's status changed: stored, then reported through the callback.
  void Report(const MediaStatus& status) {
    {
      std::lock_guard lock(mutex_);
      status_ = status;
    }
    if (callback_) callback_(status);
  }
  std::vector<MediaCommand> Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  MediaStatus status_;
  std::vector<MediaCommand> sent_;
  MediaChangedCallback callback_;
};

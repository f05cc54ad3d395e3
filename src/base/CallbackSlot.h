#pragma once
// A registered callback with the mutex that guards it, for the seams whose callbacks carry a
// value (a device list, a player's status): once another one, or none, was set, the old one is
// never called again, and setting waits for a call running on another thread.

#include <functional>
#include <mutex>
#include <utility>

template <typename Value>
class CallbackSlot {
 public:
  // Any thread but one inside the callback.
  void Set(std::function<void(const Value&)> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
  }

  // Any thread, holding no lock the callback may take. Calls it, if set, with the slot's
  // mutex held.
  void Report(const Value& value) {
    std::lock_guard lock(mutex_);
    if (callback_) callback_(value);
  }

 private:
  std::mutex mutex_;
  std::function<void(const Value&)> callback_;
};

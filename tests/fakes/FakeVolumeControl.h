#pragma once
// A scriptable volume control: the test sets the "device" state, sees every SetState, and
// reports changes through the registered callback as a real backend would.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/IVolumeControl.h"

class FakeVolumeControl final : public IVolumeControl {
 public:
  // When true, SetState reports the requested state back at once (as a device's notification).
  bool echoSetState = false;
  // When true, SetState records the request and fails (a sound server that is gone).
  std::atomic<bool> failSetState{false};
  // The playback devices it knows; set before the control is connected. Null: none.
  IOutputDevices* outputs = nullptr;

  InitResult Initialize() override { return InitResult::Ok; }
  bool Shutdown() override { return true; }
  bool GetState(VolumeState* state) override {
    std::function<void()> afterRead;
    {
      std::lock_guard lock(stateMutex_);
      *state = state_;
      afterRead = afterRead_;
    }
    if (afterRead) afterRead();
    return true;
  }
  // Runs after every GetState, on the reading thread (a change landing right after a read).
  void SetAfterRead(std::function<void()> afterRead) {
    std::lock_guard lock(stateMutex_);
    afterRead_ = std::move(afterRead);
  }
  bool SetState(const VolumeState* state) override {
    {
      std::lock_guard lock(stateMutex_);
      requests_.push_back(*state);
    }
    requestsChanged_.notify_all();
    if (failSetState.load()) return false;
    if (echoSetState) Report(*state);
    return true;
  }
  IOutputDevices* OutputDevices() override { return outputs; }
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override {
    std::lock_guard lock(callbackMutex_);
    callback_ = callback;
    userData_ = userData;
  }

  // Sets the device state without telling anyone (as before the first reading).
  void SetDeviceState(VolumeState state) {
    std::lock_guard lock(stateMutex_);
    state_ = state;
  }
  // The device changed: store the reading and run the callback, as the backends do.
  void Report(VolumeState state) {
    SetDeviceState(state);
    std::lock_guard lock(callbackMutex_);
    if (callback_ != nullptr) callback_(userData_, &state);
  }

  std::vector<VolumeState> Requests() {
    std::lock_guard lock(stateMutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard lock(stateMutex_);
    requests_.clear();
  }
  // Waits (bounded) until at least `count` SetState calls arrived.
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(stateMutex_);
    return requestsChanged_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
  }

 private:
  std::mutex stateMutex_;
  std::mutex callbackMutex_;
  std::condition_variable requestsChanged_;
  VolumeState state_;
  std::function<void()> afterRead_;
  std::vector<VolumeState> requests_;
  VolumeChangeCallback callback_ = nullptr;
  int32_t userData_ = 0;
};

#include "audio/win32/EndpointVolumeControl.h"

#include "audio/VolumeConversions.h"

EndpointVolumeControl::EndpointVolumeControl(std::unique_ptr<IEndpointDevice> device,
                                             std::unique_ptr<IOutputDevices> outputs)
    : device_(std::move(device)), outputs_(std::move(outputs)) {}

// The mutexes are std::mutex members: they exist from construction and cannot fail.
InitResult EndpointVolumeControl::Initialize() {
  if (!device_->CreateEnumerator()) return InitResult::NoInterface;
  if (!device_->GetDefaultRenderEndpoint()) {
    device_->ReleaseEnumerator();
    return InitResult::NoDevice;
  }
  auto releaseDeviceAndEnumerator = [this] {
    device_->ReleaseDevice();
    device_->ReleaseEnumerator();
  };
  if (!device_->ActivateEndpointVolume()) {
    releaseDeviceAndEnumerator();
    return InitResult::Failed;
  }
  // Past activation a failure also gives the volume interface back: the object is destroyed
  // without Shutdown, and nothing else would release it.
  auto releaseAll = [&] {
    releaseDeviceAndEnumerator();
    device_->ReleaseEndpointVolume();
  };
  // No other thread can see the object yet, so the first reading goes in without the lock.
  if (!ReadDeviceState(&state_)) {
    releaseAll();
    return InitResult::Failed;
  }
  if (!device_->RegisterNotify(this)) {
    releaseAll();
    return InitResult::Failed;
  }
  releaseDeviceAndEnumerator();
  volumeHeld_ = true;
  return InitResult::Ok;
}

bool EndpointVolumeControl::Shutdown() {
  bool result = true;
  if (!device_->UnregisterNotify(this)) result = false;
  if (volumeHeld_) {
    if (!device_->ReleaseEndpointVolume()) result = false;
    volumeHeld_ = false;
  }
  return result;
}

bool EndpointVolumeControl::GetState(VolumeState* state) {
  std::lock_guard lock(stateMutex_);
  *state = state_;
  return true;
}

bool EndpointVolumeControl::SetState(const VolumeState* state) {
  // Both writes are always attempted, the volume first.
  const bool volumeWritten = device_->SetMasterScalar(PercentToScalar(state->volume));
  const bool muteWritten = device_->SetMute(state->muted != 0);
  return volumeWritten && muteWritten;
}

void EndpointVolumeControl::SetChangeCallback(VolumeChangeCallback callback, int32_t userData) {
  changeCallback_.Set(callback, userData);
}

int32_t EndpointVolumeControl::OnNotify(const EndpointNotification* notification) {
  if (notification == nullptr) return kNotifyInvalidArg;
  VolumeState reading;
  reading.muted = notification->muted != 0 ? 1 : 0;
  reading.volume = ScalarToPercent(notification->masterVolume);
  {
    std::lock_guard lock(stateMutex_);
    state_ = reading;
  }
  // Every notification reaches the callback, also one that repeats the cached state. The
  // callback gets this reading rather than the cache itself: an audio system free to deliver
  // on more than one thread could otherwise rewrite the cache while the callback reads it.
  // The state mutex is free, so the callback may call GetState.
  changeCallback_.Report(reading);
  return kNotifyOk;
}

bool EndpointVolumeControl::ReadDeviceState(VolumeState* state) {
  bool muted = false;
  float scalar = 0.0f;
  if (!device_->GetMute(&muted)) return false;
  if (!device_->GetMasterScalar(&scalar)) return false;
  state->muted = muted ? 1 : 0;
  state->volume = ScalarToPercent(scalar);
  return true;
}

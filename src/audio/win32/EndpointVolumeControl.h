#pragma once
// The volume control over the default playback device's endpoint volume. It learns of every
// change from the device's notifications (it never polls) and is their target itself.

#include <memory>
#include <mutex>

#include "audio/ChangeCallback.h"
#include "audio/IVolumeControl.h"
#include "audio/win32/IEndpointDevice.h"

class EndpointVolumeControl final : public IVolumeControl, public IEndpointNotifyTarget {
 public:
  // `outputs`: the playback devices, owned from here on; null offers no list.
  explicit EndpointVolumeControl(std::unique_ptr<IEndpointDevice> device,
                                 std::unique_ptr<IOutputDevices> outputs = nullptr);

  InitResult Initialize() override;
  bool Shutdown() override;
  bool GetState(VolumeState* state) override;
  bool SetState(const VolumeState* state) override;
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override;
  IOutputDevices* OutputDevices() override { return outputs_.get(); }

  // On a notification thread of the device: store the reading, then run the callback.
  int32_t OnNotify(const EndpointNotification* notification) override;

 private:
  bool ReadDeviceState(VolumeState* state);

  std::unique_ptr<IEndpointDevice> device_;
  std::unique_ptr<IOutputDevices> outputs_;
  // Never held while changeCallback_ reports.
  std::mutex stateMutex_;
  VolumeState state_;
  ChangeCallback changeCallback_;
  bool volumeHeld_ = false;  // main thread only
};

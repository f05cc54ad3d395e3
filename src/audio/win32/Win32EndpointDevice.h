#pragma once
// IEndpointDevice on Core Audio: the default render endpoint for the console role, its
// IAudioEndpointVolume, and change notifications through an EndpointVolumeCallback. While
// notifications are registered it also follows the default device: when the user picks another
// one (plugs in a headset, say), a thread of ours binds that device's volume and reports its
// state as a change.

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "audio/win32/ComPtr.h"
#include "audio/win32/EndpointVolumeCallback.h"
#include "audio/win32/IEndpointDevice.h"

// Creates the device enumerator (CoCreateInstance in the program; a test double in tests).
using EnumeratorFactory = HRESULT (*)(IMMDeviceEnumerator** enumerator);
HRESULT CreateSystemEnumerator(IMMDeviceEnumerator** enumerator);

class Win32EndpointDevice final : public IEndpointDevice {
 public:
  explicit Win32EndpointDevice(EnumeratorFactory factory = &CreateSystemEnumerator)
      : factory_(factory) {}
  // Releases whatever a failed or skipped tear-down left behind, then COM. Main thread.
  ~Win32EndpointDevice() override;

  bool CreateEnumerator() override;
  bool GetDefaultRenderEndpoint() override;
  bool ActivateEndpointVolume() override;
  void ReleaseDevice() override;
  void ReleaseEnumerator() override;

  bool GetMute(bool* muted) override;
  bool GetMasterScalar(float* scalar) override;
  bool SetMasterScalar(float scalar) override;
  bool SetMute(bool muted) override;

  // Also starts following the default device, when the enumerator lets us watch it (without
  // that the start-up device stays bound).
  bool RegisterNotify(IEndpointNotifyTarget* target) override;
  // Stops following (joins the rebinding thread) and unregisters both notification targets.
  bool UnregisterNotify(IEndpointNotifyTarget* target) override;
  bool ReleaseEndpointVolume() override;

 private:
  // Logs a failure with its HRESULT, once, here where it becomes our false.
  bool Check(const char* what, HRESULT result);
  ComPtr<IAudioEndpointVolume> CurrentVolume();
  void StartFollowing();
  bool StopFollowing();
  void FollowDefaultDevice();
  void Rebind();
  static void DropCallback(EndpointVolumeCallback*& callback);

  EnumeratorFactory factory_;
  bool comInitialized_ = false;             // this object's CoInitializeEx succeeded; main thread
  ComPtr<IMMDeviceEnumerator> enumerator_;  // main thread, until ReleaseEnumerator
  ComPtr<IMMDevice> device_;                // main thread, until ReleaseDevice
  // The bound volume and the callback registered on it. Replaced by the rebinding thread;
  // readers take a reference of their own under the lock and call it outside.
  std::mutex boundMutex_;
  ComPtr<IAudioEndpointVolume> volume_;
  EndpointVolumeCallback* callback_ = nullptr;  // our reference, from Register to Unregister
  IEndpointNotifyTarget* target_ = nullptr;     // set before the rebinding thread starts
  // Following the default device: set up by RegisterNotify, torn down by UnregisterNotify.
  ComPtr<IMMDeviceEnumerator> watchedEnumerator_;
  DefaultDeviceWatcher* watcher_ = nullptr;  // our reference
  std::thread follower_;
  std::atomic<bool> stopFollowing_{false};
};

#pragma once
// IEndpointDevice on Core Audio: the default render endpoint for the console role, its
// IAudioEndpointVolume, and change notifications through an EndpointVolumeCallback.

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include "audio/IEndpointDevice.h"
#include "audio/win32/ComPtr.h"
#include "audio/win32/EndpointVolumeCallback.h"

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

  bool RegisterNotify(IEndpointNotifyTarget* target) override;
  bool UnregisterNotify(IEndpointNotifyTarget* target) override;
  bool ReleaseEndpointVolume() override;

  // The last failing HRESULT, kept for diagnostics only.
  HRESULT LastError() const { return lastError_; }

 private:
  bool Check(HRESULT result);
  void DropCallback();

  EnumeratorFactory factory_;
  bool comInitialized_ = false;  // this object's CoInitializeEx succeeded; main thread
  ComPtr<IMMDeviceEnumerator> enumerator_;
  ComPtr<IMMDevice> device_;
  ComPtr<IAudioEndpointVolume> volume_;
  EndpointVolumeCallback* callback_ = nullptr;  // our reference, from Register to Unregister
  HRESULT lastError_ = S_OK;
};

#pragma once
// The COM object the audio system notifies of endpoint-volume changes. It forwards each
// notification to an IEndpointNotifyTarget until Detach, and lives for as long as anyone holds
// a reference: the audio system may keep one beyond unregistration.

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <mutex>

#include "audio/win32/IEndpointDevice.h"

class EndpointVolumeCallback final : public IAudioEndpointVolumeCallback {
 public:
  // Starts with one reference, the creator's.
  explicit EndpointVolumeCallback(IEndpointNotifyTarget* target) : target_(target) {}

  // Any thread. Only IID_IUnknown and IID_IAudioEndpointVolumeCallback, compared in full.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  // Destroys the object when the count reaches 0.
  ULONG STDMETHODCALLTYPE Release() override;
  // The audio system's thread. E_INVALIDARG for a null record; otherwise forwards the mute flag
  // and the master scalar (nothing else of the record), one notification at a time.
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  // Reads `volume` and forwards the reading like a notification, in turn with the audio
  // system's. False when detached or the reading failed.
  bool ForwardCurrentState(IAudioEndpointVolume* volume);

  // Returns once no forwarded notification is running; none starts afterwards.
  void Detach();

 private:
  ~EndpointVolumeCallback() = default;  // only through Release

  LONG references_ = 1;            // interlocked only
  std::mutex mutex_;               // held while forwarding
  IEndpointNotifyTarget* target_;  // null once detached; guarded by mutex_
};

// The COM object the device enumerator tells of device changes. Its methods must not block nor
// call back into the enumerator, so a new default render device for the console role only sets
// an event; whoever waits on it rebinds.
class DefaultDeviceWatcher final : public IMMNotificationClient {
 public:
  // Starts with one reference, the creator's. Valid() is false when the event is missing.
  DefaultDeviceWatcher() : changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  bool Valid() const { return changed_ != nullptr; }
  // Auto-reset; set by every change of the default render device for the console role.
  HANDLE ChangedEvent() const { return changed_; }

  // Any thread. Only IID_IUnknown and IID_IMMNotificationClient.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                   LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
    return S_OK;
  }

 private:
  ~DefaultDeviceWatcher() {  // only through Release
    if (changed_ != nullptr) CloseHandle(changed_);
  }

  LONG references_ = 1;  // interlocked only
  const HANDLE changed_;
};

// The identifiers, as the audio system defines them.
extern const IID kIidUnknown;
extern const IID kIidAudioEndpointVolumeCallback;
extern const IID kIidAudioEndpointVolume;
extern const IID kIidMMDeviceEnumerator;
extern const IID kIidMMNotificationClient;
extern const CLSID kClsidMMDeviceEnumerator;

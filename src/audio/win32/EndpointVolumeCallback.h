#pragma once
// The COM object the audio system notifies of endpoint-volume changes. It forwards each
// notification to an IEndpointNotifyTarget until Detach, and lives for as long as anyone holds
// a reference: the audio system may keep one beyond unregistration.

#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <windows.h>

#include <mutex>

#include "audio/win32/IEndpointDevice.h"

// The identifiers, as the audio system defines them.
extern const IID kIidUnknown;
extern const IID kIidAudioEndpointVolumeCallback;
extern const IID kIidAudioEndpointVolume;
extern const IID kIidMMDeviceEnumerator;
extern const IID kIidMMNotificationClient;
extern const CLSID kClsidMMDeviceEnumerator;

// IUnknown for a COM object of ours that implements `Interface`, whose id is `kIid`. Any thread.
// It starts with one reference, the creator's, and destroys itself when the count reaches 0.
template <typename Interface, const IID& kIid>
class ComObject : public Interface {
 public:
  // Only IID_IUnknown and `kIid`, compared in full.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (!IsEqualIID(iid, kIidUnknown) && !IsEqualIID(iid, kIid)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) delete this;
    return remaining;
  }

 protected:
  virtual ~ComObject() = default;  // only through Release

 private:
  LONG references_ = 1;  // interlocked only
};

class EndpointVolumeCallback final
    : public ComObject<IAudioEndpointVolumeCallback, kIidAudioEndpointVolumeCallback> {
 public:
  explicit EndpointVolumeCallback(IEndpointNotifyTarget* target) : target_(target) {}

  // The audio system's thread. E_INVALIDARG for a null record; otherwise forwards the mute flag
  // and the master scalar (nothing else of the record), one notification at a time.
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  // Reads `volume` and forwards the reading like a notification, in turn with the audio
  // system's. False when detached or the reading failed.
  bool ForwardCurrentState(IAudioEndpointVolume* volume);

  // Returns once no forwarded notification is running; none starts afterwards.
  void Detach();

 private:
  ~EndpointVolumeCallback() override = default;

  std::mutex mutex_;               // held while forwarding
  IEndpointNotifyTarget* target_;  // null once detached; guarded by mutex_
};

// The COM object the device enumerator tells of device changes. Its methods must not block nor
// call back into the enumerator, so a new default render device for the console role only sets
// an event; whoever waits on it rebinds.
class DefaultDeviceWatcher final
    : public ComObject<IMMNotificationClient, kIidMMNotificationClient> {
 public:
  // Valid() is false when the event is missing.
  DefaultDeviceWatcher() : changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  bool Valid() const { return changed_ != nullptr; }
  // Auto-reset; set by every change of the default render device for the console role.
  HANDLE ChangedEvent() const { return changed_; }

  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                   LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
    return S_OK;
  }

 private:
  ~DefaultDeviceWatcher() override {
    if (changed_ != nullptr) CloseHandle(changed_);
  }

  const HANDLE changed_;
};

// The COM object the device enumerator tells of changes to the list of playback devices: one
// added, removed, enabled or disabled, renamed, or a new default. Like DefaultDeviceWatcher it
// only sets an event, which it owns, so a late call after unregistration harms nothing.
class DeviceListWatcher final : public ComObject<IMMNotificationClient, kIidMMNotificationClient> {
 public:
  DeviceListWatcher() : changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  bool Valid() const { return changed_ != nullptr; }
  // Auto-reset; whoever waits reads the list again. Others may set it to wake that one.
  HANDLE ChangedEvent() const { return changed_; }

  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return Changed(); }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return Changed(); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return Changed(); }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY key) override;

 private:
  ~DeviceListWatcher() override {
    if (changed_ != nullptr) CloseHandle(changed_);
  }
  HRESULT Changed() {
    SetEvent(changed_);
    return S_OK;
  }

  const HANDLE changed_;
};

// The device's name as people see it ("Speakers (USB Audio)").
extern const PROPERTYKEY kDeviceFriendlyName;

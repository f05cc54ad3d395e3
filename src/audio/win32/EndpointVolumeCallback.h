#pragma once
// The COM object the audio system notifies of endpoint-volume changes. It forwards each
// notification to an IEndpointNotifyTarget until Detach, and lives for as long as anyone holds
// a reference: the audio system may keep one beyond unregistration.

#include <windows.h>
#include <endpointvolume.h>

#include <condition_variable>
#include <mutex>

#include "audio/IEndpointDevice.h"

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
  // and the master scalar (nothing else of the record) with no lock of ours held.
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  // Main thread. Returns once no forwarded notification is running; none starts afterwards.
  void Detach();

 private:
  ~EndpointVolumeCallback() = default;  // only through Release

  LONG references_ = 1;  // interlocked only
  std::mutex mutex_;
  std::condition_variable idle_;
  IEndpointNotifyTarget* target_;  // null once detached; guarded by mutex_
  int running_ = 0;                // forwarded notifications in progress; guarded by mutex_
};

// The identifiers, as the audio system defines them.
extern const IID kIidUnknown;
extern const IID kIidAudioEndpointVolumeCallback;
extern const IID kIidAudioEndpointVolume;
extern const IID kIidMMDeviceEnumerator;
extern const CLSID kClsidMMDeviceEnumerator;

#include "audio/win32/Win32EndpointDevice.h"

#include <string>
#include <utility>

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

HRESULT CreateSystemEnumerator(IMMDeviceEnumerator** enumerator) {
  return CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                          kIidMMDeviceEnumerator, reinterpret_cast<void**>(enumerator));
}

Win32EndpointDevice::~Win32EndpointDevice() {
  UnregisterNotify(nullptr);
  volume_.Reset();
  device_.Reset();
  enumerator_.Reset();
  if (comInitialized_) CoUninitialize();
}

bool Win32EndpointDevice::Check(const char* what, HRESULT result) {
  if (FAILED(result)) LogError(std::string("Core Audio: ") + what + ": " + HResultText(result));
  return SUCCEEDED(result);
}

ComPtr<IAudioEndpointVolume> Win32EndpointDevice::CurrentVolume() {
  std::lock_guard lock(boundMutex_);
  return volume_.Share();
}

bool Win32EndpointDevice::CreateEnumerator() {
  // Nothing can be created before this thread has joined an apartment. The multithreaded one,
  // because notifications arrive on the audio system's own threads. A thread already in another
  // apartment (RPC_E_CHANGED_MODE) keeps it and needs no uninitialising from us.
  if (!comInitialized_) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comInitialized_ = SUCCEEDED(joined);
  }
  return Check("creating the device enumerator", factory_(enumerator_.Put()));
}

bool Win32EndpointDevice::GetDefaultRenderEndpoint() {
  if (!enumerator_) return false;
  return Check("GetDefaultAudioEndpoint",
               enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.Put()));
}

bool Win32EndpointDevice::ActivateEndpointVolume() {
  if (!device_) return false;
  ComPtr<IAudioEndpointVolume> volume;
  if (!Check("Activate", device_->Activate(kIidAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                                           reinterpret_cast<void**>(volume.Put())))) {
    return false;
  }
  std::lock_guard lock(boundMutex_);
  volume_ = std::move(volume);
  return true;
}

void Win32EndpointDevice::ReleaseDevice() {
  device_.Reset();
}
void Win32EndpointDevice::ReleaseEnumerator() {
  enumerator_.Reset();
}

bool Win32EndpointDevice::GetMute(bool* muted) {
  const ComPtr<IAudioEndpointVolume> volume = CurrentVolume();
  BOOL value = FALSE;
  if (!volume || !Check("GetMute", volume->GetMute(&value))) return false;
  *muted = value != FALSE;
  return true;
}

bool Win32EndpointDevice::GetMasterScalar(float* scalar) {
  const ComPtr<IAudioEndpointVolume> volume = CurrentVolume();
  float value = 0.0f;
  if (!volume || !Check("GetMasterVolumeLevelScalar", volume->GetMasterVolumeLevelScalar(&value)))
    return false;
  *scalar = value;
  return true;
}

bool Win32EndpointDevice::SetMasterScalar(float scalar) {
  const ComPtr<IAudioEndpointVolume> volume = CurrentVolume();
  return volume &&
         Check("SetMasterVolumeLevelScalar", volume->SetMasterVolumeLevelScalar(scalar, nullptr));
}

bool Win32EndpointDevice::SetMute(bool muted) {
  const ComPtr<IAudioEndpointVolume> volume = CurrentVolume();
  return volume && Check("SetMute", volume->SetMute(muted ? TRUE : FALSE, nullptr));
}

bool Win32EndpointDevice::RegisterNotify(IEndpointNotifyTarget* target) {
  if (!volume_ || callback_ != nullptr) return false;
  callback_ = new EndpointVolumeCallback(target);
  if (!Check("RegisterControlChangeNotify", volume_->RegisterControlChangeNotify(callback_))) {
    DropCallback(callback_);
    return false;
  }
  target_ = target;
  StartFollowing();
  return true;
}

bool Win32EndpointDevice::UnregisterNotify(IEndpointNotifyTarget*) {
  // First the rebinding thread, which is the only other writer of the binding.
  bool unregistered = StopFollowing();
  if (callback_ == nullptr) return unregistered;
  if (!volume_ ||
      !Check("UnregisterControlChangeNotify", volume_->UnregisterControlChangeNotify(callback_)))
    unregistered = false;
  // Detached either way: whatever the audio system still delivers must not reach a target that
  // is about to be destroyed.
  DropCallback(callback_);
  return unregistered;
}

void Win32EndpointDevice::DropCallback(EndpointVolumeCallback*& callback) {
  if (callback == nullptr) return;
  callback->Detach();
  callback->Release();
  callback = nullptr;
}

bool Win32EndpointDevice::ReleaseEndpointVolume() {
  std::lock_guard lock(boundMutex_);
  if (!volume_) return true;
  return volume_.Reset() == 0;
}

void Win32EndpointDevice::StartFollowing() {
  if (!enumerator_) return;
  auto* watcher = new DefaultDeviceWatcher();
  if (!watcher->Valid() || !Check("RegisterEndpointNotificationCallback",
                                  enumerator_->RegisterEndpointNotificationCallback(watcher))) {
    watcher->Release();
    return;
  }
  watcher_ = watcher;
  // Kept beyond ReleaseEnumerator: the watcher is registered on it, and rebinding asks it.
  watchedEnumerator_ = enumerator_.Share();
  stopFollowing_ = false;
  follower_ = std::thread(&Win32EndpointDevice::FollowDefaultDevice, this);
}

bool Win32EndpointDevice::StopFollowing() {
  if (watcher_ == nullptr) return true;
  // Unregistered here, never from inside the watcher's methods (the enumerator forbids it).
  const bool unregistered =
      Check("UnregisterEndpointNotificationCallback",
            watchedEnumerator_->UnregisterEndpointNotificationCallback(watcher_));
  stopFollowing_ = true;
  SetEvent(watcher_->ChangedEvent());
  follower_.join();
  // A late call into the watcher only sets its event: it lives on while the enumerator holds it.
  watcher_->Release();
  watcher_ = nullptr;
  watchedEnumerator_.Reset();
  return unregistered;
}

void Win32EndpointDevice::FollowDefaultDevice() {
  // The rebinding calls Core Audio, so this thread joins the multithreaded apartment too.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  while (WaitForSingleObject(watcher_->ChangedEvent(), INFINITE) == WAIT_OBJECT_0 &&
         !stopFollowing_) {
    Rebind();
  }
  if (SUCCEEDED(joined)) CoUninitialize();
}

void Win32EndpointDevice::Rebind() {
  // Any failure keeps the old binding: with no default device left, the old one is as good as
  // none, and the next change of the default tries again.
  ComPtr<IMMDevice> device;
  if (!Check("GetDefaultAudioEndpoint",
             watchedEnumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device.Put()))) {
    return;
  }
  ComPtr<IAudioEndpointVolume> volume;
  if (!Check("Activate", device->Activate(kIidAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                                          reinterpret_cast<void**>(volume.Put())))) {
    return;
  }
  device.Reset();  // as at start-up, only the volume interface is kept
  // A callback object per binding, so a late notification of the old device, dropped by the
  // detached old object, can never overwrite the new device's state.
  EndpointVolumeCallback* callback = new EndpointVolumeCallback(target_);
  if (!Check("RegisterControlChangeNotify", volume->RegisterControlChangeNotify(callback))) {
    DropCallback(callback);
    return;
  }
  IAudioEndpointVolume* bound = volume.Get();
  EndpointVolumeCallback* old = callback;
  {
    std::lock_guard lock(boundMutex_);
    std::swap(volume_, volume);
    std::swap(callback_, old);
  }
  // `volume` is the old binding now; writers that still hold it keep it alive until they return.
  if (volume && old != nullptr)
    Check("UnregisterControlChangeNotify", volume->UnregisterControlChangeNotify(old));
  DropCallback(old);
  volume.Reset();
  // The new device's state, reported once as a change; later ones come by notification.
  callback->ForwardCurrentState(bound);
}

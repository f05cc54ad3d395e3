#include "audio/win32/Win32EndpointDevice.h"

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

bool Win32EndpointDevice::Check(HRESULT result) {
  if (FAILED(result)) lastError_ = result;
  return SUCCEEDED(result);
}

bool Win32EndpointDevice::CreateEnumerator() {
  // Nothing can be created before this thread has joined an apartment. The multithreaded one,
  // because notifications arrive on the audio system's own threads. A thread already in another
  // apartment (RPC_E_CHANGED_MODE) keeps it and needs no uninitialising from us.
  if (!comInitialized_) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comInitialized_ = SUCCEEDED(joined);
  }
  return Check(factory_(enumerator_.Put()));
}

bool Win32EndpointDevice::GetDefaultRenderEndpoint() {
  if (!enumerator_) return false;
  return Check(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.Put()));
}

bool Win32EndpointDevice::ActivateEndpointVolume() {
  if (!device_) return false;
  return Check(device_->Activate(kIidAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                                 reinterpret_cast<void**>(volume_.Put())));
}

void Win32EndpointDevice::ReleaseDevice() { device_.Reset(); }
void Win32EndpointDevice::ReleaseEnumerator() { enumerator_.Reset(); }

bool Win32EndpointDevice::GetMute(bool* muted) {
  BOOL value = FALSE;
  if (!volume_ || !Check(volume_->GetMute(&value))) return false;
  *muted = value != FALSE;
  return true;
}

bool Win32EndpointDevice::GetMasterScalar(float* scalar) {
  float value = 0.0f;
  if (!volume_ || !Check(volume_->GetMasterVolumeLevelScalar(&value))) return false;
  *scalar = value;
  return true;
}

bool Win32EndpointDevice::SetMasterScalar(float scalar) {
  return volume_ && Check(volume_->SetMasterVolumeLevelScalar(scalar, nullptr));
}

bool Win32EndpointDevice::SetMute(bool muted) {
  return volume_ && Check(volume_->SetMute(muted ? TRUE : FALSE, nullptr));
}

bool Win32EndpointDevice::RegisterNotify(IEndpointNotifyTarget* target) {
  if (!volume_ || callback_ != nullptr) return false;
  callback_ = new EndpointVolumeCallback(target);
  if (!Check(volume_->RegisterControlChangeNotify(callback_))) {
    DropCallback();
    return false;
  }
  return true;
}

bool Win32EndpointDevice::UnregisterNotify(IEndpointNotifyTarget*) {
  if (callback_ == nullptr) return true;
  const bool unregistered = volume_ && Check(volume_->UnregisterControlChangeNotify(callback_));
  // Detached either way: whatever the audio system still delivers must not reach a target that
  // is about to be destroyed.
  DropCallback();
  return unregistered;
}

void Win32EndpointDevice::DropCallback() {
  if (callback_ == nullptr) return;
  callback_->Detach();
  callback_->Release();
  callback_ = nullptr;
}

bool Win32EndpointDevice::ReleaseEndpointVolume() {
  if (!volume_) return true;
  return volume_.Reset() == 0;
}

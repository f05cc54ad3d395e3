#include "audio/win32/EndpointVolumeCallback.h"

#include "base/Log.h"
#include "base/win32/SystemErrorText.h"

const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIidAudioEndpointVolumeCallback = {
    0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};
const IID kIidAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
const IID kIidMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidMMNotificationClient = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
const CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

HRESULT EndpointVolumeCallback::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) {
  if (data == nullptr) return E_INVALIDARG;
  const EndpointNotification notification{data->bMuted ? 1 : 0, data->fMasterVolume};
  std::lock_guard lock(mutex_);
  // After Detach the audio system may still deliver: dropped quietly.
  if (target_ != nullptr) target_->OnNotify(&notification);
  return S_OK;
}

bool EndpointVolumeCallback::ForwardCurrentState(IAudioEndpointVolume* volume) {
  // Read and forwarded under the lock, so a notification of a change made meanwhile is
  // forwarded after this reading, never before it.
  std::lock_guard lock(mutex_);
  BOOL muted = FALSE;
  float scalar = 0.0f;
  if (target_ == nullptr) return false;
  HRESULT result = volume->GetMute(&muted);
  if (SUCCEEDED(result)) result = volume->GetMasterVolumeLevelScalar(&scalar);
  if (FAILED(result)) {
    LogError("Core Audio: reading the new default device: " + HResultText(result));
    return false;
  }
  const EndpointNotification notification{muted ? 1 : 0, scalar};
  target_->OnNotify(&notification);
  return true;
}

void EndpointVolumeCallback::Detach() {
  std::lock_guard lock(mutex_);
  target_ = nullptr;
}

HRESULT DefaultDeviceWatcher::OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) {
  // The new device is looked up by whoever waits, so several changes in a row rebind once,
  // to the last. A removed default (no id) is looked up too and found missing.
  if (flow == eRender && role == eConsole) SetEvent(changed_);
  return S_OK;
}

const PROPERTYKEY kDeviceFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

HRESULT DeviceListWatcher::OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) {
  return flow == eRender && role == eConsole ? Changed() : S_OK;
}

HRESULT DeviceListWatcher::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY key) {
  // Other properties change often (formats, jack states) and leave the list as it is.
  const bool renamed =
      IsEqualGUID(key.fmtid, kDeviceFriendlyName.fmtid) && key.pid == kDeviceFriendlyName.pid;
  return renamed ? Changed() : S_OK;
}

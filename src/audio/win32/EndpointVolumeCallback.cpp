#include "audio/win32/EndpointVolumeCallback.h"

#include <cstring>

const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIidAudioEndpointVolumeCallback = {
    0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};
const IID kIidAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
const IID kIidMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

namespace {

bool SameId(REFIID a, const IID& b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

}  // namespace

HRESULT EndpointVolumeCallback::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (SameId(iid, kIidUnknown) || SameId(iid, kIidAudioEndpointVolumeCallback)) {
    AddRef();
    *object = static_cast<IAudioEndpointVolumeCallback*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG EndpointVolumeCallback::AddRef() { return InterlockedIncrement(&references_); }

ULONG EndpointVolumeCallback::Release() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) delete this;
  return remaining;
}

HRESULT EndpointVolumeCallback::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) {
  if (data == nullptr) return E_INVALIDARG;
  IEndpointNotifyTarget* target = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (target_ == nullptr) return S_OK;  // late delivery after unregistration
    target = target_;
    ++running_;
  }
  const EndpointNotification notification{data->bMuted ? 1 : 0, data->fMasterVolume};
  target->OnNotify(&notification);
  // Notified under the lock: once Detach sees 0 the owner may drop its reference at once.
  std::lock_guard lock(mutex_);
  if (--running_ == 0) idle_.notify_all();
  return S_OK;
}

void EndpointVolumeCallback::Detach() {
  std::unique_lock lock(mutex_);
  target_ = nullptr;
  idle_.wait(lock, [this] { return running_ == 0; });
}

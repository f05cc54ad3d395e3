#pragma once
// Test doubles of the Core Audio COM objects the endpoint adapter uses: an enumerator, a device
// and an endpoint volume, each counting its references (they are never deleted by Release) and
// recording what it was asked. One scenario at a time, reached through FakeCoreAudio::Current().

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <atomic>
#include <cstring>

template <typename Interface>
class CountedFake : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  std::atomic<LONG> references{0};
};

class FakeEndpointVolume final : public CountedFake<IAudioEndpointVolume> {
 public:
  HRESULT registerResult = S_OK, unregisterResult = S_OK;
  HRESULT getMuteResult = S_OK, getScalarResult = S_OK;
  HRESULT setScalarResult = S_OK, setMuteResult = S_OK;
  BOOL mute = FALSE;
  float scalar = 1.0f;
  IAudioEndpointVolumeCallback* registered = nullptr;
  IAudioEndpointVolumeCallback* unregistered = nullptr;
  int scalarWrites = 0, muteWrites = 0;
  float writtenScalar = -1.0f;
  BOOL writtenMute = -1;
  bool nonNullContext = false;

  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback* c) override {
    if (FAILED(registerResult)) return registerResult;
    c->AddRef();  // as the audio system does
    registered = c;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* c) override {
    unregistered = c;
    if (FAILED(unregisterResult)) return unregisterResult;
    if (c == registered) {
      registered = nullptr;
      c->Release();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float level, LPCGUID context) override {
    ++scalarWrites;
    writtenScalar = level;
    nonNullContext |= context != nullptr;
    return setScalarResult;
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override {
    if (FAILED(getScalarResult)) return getScalarResult;
    *level = scalar;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL value, LPCGUID context) override {
    ++muteWrites;
    writtenMute = value;
    nonNullContext |= context != nullptr;
    return setMuteResult;
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* value) override {
    if (FAILED(getMuteResult)) return getMuteResult;
    *value = mute;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }
};

class FakeDevice final : public CountedFake<IMMDevice> {
 public:
  HRESULT activateResult = S_OK;
  IID activatedIid{};
  DWORD activatedContext = 0;
  bool activationParameters = false;
  FakeEndpointVolume* volume = nullptr;

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* parameters,
                                     void** object) override {
    activatedIid = iid;
    activatedContext = context;
    activationParameters = parameters != nullptr;
    if (FAILED(activateResult)) return activateResult;
    volume->AddRef();
    *object = static_cast<IAudioEndpointVolume*>(volume);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }
};

class FakeEnumerator final : public CountedFake<IMMDeviceEnumerator> {
 public:
  HRESULT defaultResult = S_OK;
  EDataFlow askedFlow = eAll;
  ERole askedRole = eCommunications;
  FakeDevice* device = nullptr;

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                    IMMDevice** out) override {
    askedFlow = flow;
    askedRole = role;
    if (FAILED(defaultResult)) return defaultResult;
    device->AddRef();
    *out = device;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
};

// One wired-up audio system; CreateEnumerator hands out its enumerator.
struct FakeCoreAudio {
  FakeEndpointVolume volume;
  FakeDevice device;
  FakeEnumerator enumerator;
  HRESULT createResult = S_OK;
  int creations = 0;

  FakeCoreAudio() {
    device.volume = &volume;
    enumerator.device = &device;
    Current() = this;
  }
  ~FakeCoreAudio() { Current() = nullptr; }

  static FakeCoreAudio*& Current() {
    static FakeCoreAudio* current = nullptr;
    return current;
  }
  static HRESULT CreateEnumerator(IMMDeviceEnumerator** out) {
    FakeCoreAudio* audio = Current();
    ++audio->creations;
    if (FAILED(audio->createResult)) return audio->createResult;
    audio->enumerator.AddRef();
    *out = &audio->enumerator;
    return S_OK;
  }
};

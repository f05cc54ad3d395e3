#pragma once
// Test doubles of the Core Audio COM objects the endpoint adapter uses: an enumerator, two
// devices (the default one can be switched) and their endpoint volumes, each counting its
// references (they are never deleted by Release) and recording what it was asked. One scenario
// at a time, reached through FakeCoreAudio::Current().

#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
  HRESULT getScalarResult = S_OK, setScalarResult = S_OK;
  BOOL mute = FALSE;
  float scalar = 1.0f;
  // Written by the adapter's rebinding thread too.
  std::atomic<IAudioEndpointVolumeCallback*> registered{nullptr};
  std::atomic<IAudioEndpointVolumeCallback*> unregistered{nullptr};
  // Writes come from several threads at once.
  std::atomic<int> scalarWrites{0}, muteWrites{0};
  std::atomic<float> writtenScalar{-1.0f};
  std::atomic<BOOL> writtenMute{-1};
  std::atomic<bool> nonNullContext{false};
  std::atomic<int> callsWhileReleased{0};  // a call through a reference already given back

  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback* c) override {
    if (FAILED(registerResult)) return registerResult;
    c->AddRef();  // as the audio system does
    registered = c;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* c) override {
    unregistered = c;
    if (FAILED(unregisterResult)) return unregisterResult;
    if (c == registered.load()) {
      registered = nullptr;
      c->Release();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float level, LPCGUID context) override {
    return Write(scalarWrites, writtenScalar, level, context, setScalarResult);
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override {
    if (FAILED(getScalarResult)) return getScalarResult;
    *level = scalar;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL value, LPCGUID context) override {
    return Write(muteWrites, writtenMute, value, context, S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* value) override {
    *value = mute;
    return S_OK;
  }
  // One write of `value`, counted and recorded, answered with `result`.
  template <typename Value>
  HRESULT Write(std::atomic<int>& writes, std::atomic<Value>& written, Value value, LPCGUID context,
                HRESULT result) {
    CheckHeldThroughout();
    ++writes;
    written = value;
    if (context != nullptr) nonNullContext = true;
    return result;
  }
  // A write takes a while, during which the caller must go on holding its reference.
  void CheckHeldThroughout() {
    for (int i = 0; i < 4; ++i) {
      if (references == 0) ++callsWhileReleased;
      std::this_thread::yield();
    }
  }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }
};

// A device's property store, holding its friendly name (or nothing).
class FakePropertyStore final : public CountedFake<IPropertyStore> {
 public:
  std::wstring name;  // empty: the store has no name
  HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    PropVariantInit(value);
    // PKEY_Device_FriendlyName; anything else is empty, as the system answers.
    const GUID friendly = {
        0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}};
    if (!IsEqualGUID(key.fmtid, friendly) || key.pid != 14 || name.empty()) return S_OK;
    const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
    value->vt = VT_LPWSTR;
    value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(value->pwszVal, name.c_str(), bytes);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
};

class FakeDevice final : public CountedFake<IMMDevice> {
 public:
  std::wstring id = L"{0.0.0.00000000}.{11111111-0000-0000-0000-000000000001}";
  FakePropertyStore store;
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
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** out) override {
    store.AddRef();
    *out = &store;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* out) override {
    const size_t bytes = (id.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*out, id.c_str(), bytes);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }
};

// The active render devices, as the test lists them; the adapter's worker reads them.
class FakeCollection final : public CountedFake<IMMDeviceCollection> {
 public:
  void Set(std::vector<FakeDevice*> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
  }
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    std::lock_guard lock(mutex_);
    *count = static_cast<UINT>(devices_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** out) override {
    std::lock_guard lock(mutex_);
    if (index >= devices_.size()) return E_INVALIDARG;
    devices_[index]->AddRef();
    *out = devices_[index];
    return S_OK;
  }

 private:
  std::mutex mutex_;
  std::vector<FakeDevice*> devices_;
};

class FakeEnumerator final : public CountedFake<IMMDeviceEnumerator> {
 public:
  FakeCollection collection;
  std::atomic<EDataFlow> listedFlow{eAll};
  std::atomic<DWORD> listedStates{0};
  HRESULT defaultResult = S_OK, registerClientResult = S_OK;
  std::atomic<EDataFlow> askedFlow{eAll};
  std::atomic<ERole> askedRole{eCommunications};
  std::atomic<FakeDevice*> device{nullptr};  // the default; the test switches it
  std::atomic<IMMNotificationClient*> client{nullptr};

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states,
                                               IMMDeviceCollection** out) override {
    listedFlow = flow;
    listedStates = states;
    collection.AddRef();
    *out = &collection;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                    IMMDevice** out) override {
    askedFlow = flow;
    askedRole = role;
    if (FAILED(defaultResult)) return defaultResult;
    FakeDevice* current = device;
    current->AddRef();
    *out = current;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE
  RegisterEndpointNotificationCallback(IMMNotificationClient* c) override {
    if (FAILED(registerClientResult)) return registerClientResult;
    c->AddRef();
    client = c;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient* c) override {
    if (c != client.load()) return E_INVALIDARG;
    client = nullptr;
    c->Release();
    return S_OK;
  }
};

// One wired-up audio system; CreateEnumerator hands out its enumerator.
struct FakeCoreAudio {
  FakeEndpointVolume volume;
  FakeDevice device;
  FakeEndpointVolume otherVolume;  // of a device that becomes the default when the test says
  FakeDevice otherDevice;
  FakeEnumerator enumerator;
  HRESULT createResult = S_OK;
  int creations = 0;

  FakeCoreAudio() {
    device.volume = &volume;
    otherDevice.volume = &otherVolume;
    otherDevice.id = L"{0.0.0.00000000}.{22222222-0000-0000-0000-000000000002}";
    device.store.name = L"Speakers";
    otherDevice.store.name = L"Headphones \u00e9";
    enumerator.device = &device;
    enumerator.collection.Set({&device, &otherDevice});
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

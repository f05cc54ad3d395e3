#include "audio/win32/EndpointOutputs.h"

#include <utility>

#include "audio/OutputDevices.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

const IID kIidPolicyConfig = {
    0xf8679f50, 0x850a, 0x41cf, {0x9c, 0x72, 0x43, 0x0f, 0x29, 0x02, 0x90, 0xc8}};
const CLSID kClsidPolicyConfigClient = {
    0x870af99c, 0x171d, 0x4f9e, {0xaf, 0x0d, 0xe6, 0x3d, 0xf4, 0x0c, 0x2b, 0xc9}};

namespace {
bool Check(const char* what, HRESULT result) {
  if (FAILED(result)) LogError(std::string("Core Audio: ") + what + ": " + HResultText(result));
  return SUCCEEDED(result);
}

// The id Core Audio gives a device, as UTF-8; empty when it gives none.
std::string IdOf(IMMDevice* device) {
  LPWSTR id = nullptr;
  if (!Check("GetId", device->GetId(&id)) || id == nullptr) return "";
  std::string text = Narrow(id);
  CoTaskMemFree(id);
  return text;
}

std::string FriendlyNameOf(IMMDevice* device) {
  ComPtr<IPropertyStore> store;
  if (!Check("OpenPropertyStore", device->OpenPropertyStore(STGM_READ, store.Put()))) return "";
  PROPVARIANT value;
  PropVariantInit(&value);
  std::string name;
  if (Check("reading the device's name", store->GetValue(kDeviceFriendlyName, &value)) &&
      value.vt == VT_LPWSTR && value.pwszVal != nullptr) {
    name = Narrow(value.pwszVal);
  }
  PropVariantClear(&value);
  return name;
}
}  // namespace

HRESULT CreateSystemPolicyConfig(IPolicyConfig** policy) {
  return CoCreateInstance(kClsidPolicyConfigClient, nullptr, CLSCTX_ALL, kIidPolicyConfig,
                          reinterpret_cast<void**>(policy));
}

EndpointOutputs::EndpointOutputs(EnumeratorFactory enumerators, PolicyConfigFactory policies)
    : enumerators_(enumerators), policies_(policies), watcher_(new DeviceListWatcher()) {
  if (watcher_->Valid()) worker_ = std::thread(&EndpointOutputs::Work, this);
}

EndpointOutputs::~EndpointOutputs() {
  if (worker_.joinable()) {
    stopping_ = true;
    SetEvent(watcher_->ChangedEvent());
    worker_.join();
  }
  watcher_->Release();
}

void EndpointOutputs::Work() {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  {
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (Check("creating the device enumerator", enumerators_(enumerator.Put()))) {
      ComPtr<IPolicyConfig> policy;
      const HRESULT created = policies_(policy.Put());
      if (FAILED(created)) {
        LogNote("the default output cannot be chosen on this system: " + HResultText(created));
        policy.Reset();
      }
      Serve(enumerator.Get(), policy.Get());
    }
  }
  if (SUCCEEDED(joined)) CoUninitialize();
}

void EndpointOutputs::Serve(IMMDeviceEnumerator* enumerator, IPolicyConfig* policy) {
  // Without the notifications the list is read once and never followed.
  const bool watching = Check("RegisterEndpointNotificationCallback",
                              enumerator->RegisterEndpointNotificationCallback(watcher_));
  Refresh(enumerator, policy != nullptr);
  while (WaitForSingleObject(watcher_->ChangedEvent(), INFINITE) == WAIT_OBJECT_0 && !stopping_) {
    std::string requested;
    {
      std::lock_guard lock(listMutex_);
      requested = std::exchange(requested_, std::string());
    }
    if (!requested.empty() && policy != nullptr) ApplyDefault(policy, requested);
    Refresh(enumerator, policy != nullptr);
  }
  if (watching) {
    Check("UnregisterEndpointNotificationCallback",
          enumerator->UnregisterEndpointNotificationCallback(watcher_));
  }
}

void EndpointOutputs::Refresh(IMMDeviceEnumerator* enumerator, bool canChoose) {
  OutputList list;
  if (!Read(enumerator, &list)) return;  // the list as it was is the best guess left
  list.canChoose = canChoose;
  {
    std::lock_guard lock(listMutex_);
    if (list == list_) return;
    list_ = list;
  }
  callback_.Report(list);
}

bool EndpointOutputs::Read(IMMDeviceEnumerator* enumerator, OutputList* list) {
  ComPtr<IMMDeviceCollection> devices;
  UINT count = 0;
  if (!Check("EnumAudioEndpoints",
             enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.Put())) ||
      !Check("GetCount", devices->GetCount(&count))) {
    return false;
  }
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    if (!Check("Item", devices->Item(i, device.Put()))) continue;
    std::string id = IdOf(device.Get());
    if (!IsOutputDeviceId(id)) continue;  // empty, or a form no system version has used
    std::string name = FriendlyNameOf(device.Get());
    list->devices.push_back({id, name.empty() ? id : std::move(name)});
  }
  // No default at all (every device unplugged) is no failure.
  ComPtr<IMMDevice> current;
  if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, current.Put()))) {
    list->defaultId = IdOf(current.Get());
  }
  return true;
}

void EndpointOutputs::ApplyDefault(IPolicyConfig* policy, const std::string& id) {
  const std::wstring wide = Widen(id);
  // Every role, as the system's own sound settings do: the volume follows the console role's.
  for (ERole role : {eConsole, eMultimedia, eCommunications}) {
    if (!Check("SetDefaultEndpoint", policy->SetDefaultEndpoint(wide.c_str(), role))) return;
  }
}

OutputList EndpointOutputs::List() {
  std::lock_guard lock(listMutex_);
  return list_;
}

bool EndpointOutputs::MakeDefault(const std::string& id) {
  {
    std::lock_guard lock(listMutex_);
    if (!list_.canChoose || !IsListed(list_, id)) return false;
    requested_ = id;
  }
  SetEvent(watcher_->ChangedEvent());
  return true;
}

void EndpointOutputs::SetOutputsCallback(OutputsChangedCallback callback) {
  callback_.Set(std::move(callback));
}

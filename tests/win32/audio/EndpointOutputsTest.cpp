// The output devices on Core Audio over the COM doubles, with a double of the policy object
// that makes a device the default.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FakeCoreAudio.h"
#include "audio/win32/EndpointOutputs.h"
#include "fakes/CapturedLog.h"
#include "fakes/Eventually.h"

namespace {
constexpr const char* kSpeakers = "{0.0.0.00000000}.{11111111-0000-0000-0000-000000000001}";
constexpr const char* kHeadphones = "{0.0.0.00000000}.{22222222-0000-0000-0000-000000000002}";

class FakePolicyConfig final : public CountedFake<IPolicyConfig> {
 public:
  HRESULT setResult = S_OK;
  std::mutex mutex;
  std::vector<std::pair<std::wstring, ERole>> calls;  // guarded by mutex

  HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR id, ERole role) override {
    std::lock_guard lock(mutex);
    calls.emplace_back(id, role);
    return setResult;
  }
  std::vector<std::pair<std::wstring, ERole>> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, INT, WAVEFORMATEX**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, INT, PINT64, PINT64) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, PINT64) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, INT) override { return E_NOTIMPL; }
};

FakePolicyConfig* g_policy = nullptr;
HRESULT g_policyCreateResult = S_OK;
HRESULT CreateFakePolicy(IPolicyConfig** out) {
  if (FAILED(g_policyCreateResult)) return g_policyCreateResult;
  g_policy->AddRef();
  *out = g_policy;
  return S_OK;
}

struct EndpointOutputsTest : ::testing::Test {
  FakeCoreAudio audio;
  FakePolicyConfig policy;
  CapturedLog log;
  void SetUp() override {
    g_policy = &policy;
    g_policyCreateResult = S_OK;
  }
  std::unique_ptr<EndpointOutputs> Start() {
    auto outputs =
        std::make_unique<EndpointOutputs>(&FakeCoreAudio::CreateEnumerator, &CreateFakePolicy);
    EXPECT_TRUE(Eventually([&] { return !outputs->List().devices.empty(); }));
    return outputs;
  }
  // What the enumerator tells the registered watcher.
  IMMNotificationClient* Watcher() { return audio.enumerator.client.load(); }
};
}  // namespace

TEST_F(EndpointOutputsTest, ListsTheActiveRenderDevicesByNameWithTheDefault) {
  std::vector<OutputList> reported;
  std::mutex reportedMutex;
  auto outputs =
      std::make_unique<EndpointOutputs>(&FakeCoreAudio::CreateEnumerator, &CreateFakePolicy);
  outputs->SetOutputsCallback([&](const OutputList& list) {
    std::lock_guard lock(reportedMutex);
    reported.push_back(list);
  });
  const OutputList expected{
      {{kSpeakers, "Speakers"}, {kHeadphones, "Headphones \xc3\xa9"}}, kSpeakers, true};
  ASSERT_TRUE(Eventually([&] { return outputs->List() == expected; }));
  EXPECT_EQ(audio.enumerator.listedFlow.load(), eRender);
  EXPECT_EQ(audio.enumerator.listedStates.load(), static_cast<DWORD>(DEVICE_STATE_ACTIVE));
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(reportedMutex);
    return !reported.empty() && reported.back() == expected;
  }));
  outputs->SetOutputsCallback(nullptr);
  outputs.reset();
  // The worker unregistered its watcher and gave back every reference.
  EXPECT_EQ(Watcher(), nullptr);
  EXPECT_EQ(audio.enumerator.references.load(), 0);
  EXPECT_EQ(policy.references.load(), 0);
}

TEST_F(EndpointOutputsTest, ChoosingSetsEveryRoleAndTheListFollowsTheSystem) {
  auto outputs = Start();
  for (const char* unknown : {"", "{0.0.0.00000000}.{33333333}", "a b"}) {
    EXPECT_FALSE(outputs->MakeDefault(unknown)) << unknown;
  }
  ASSERT_TRUE(outputs->MakeDefault(kHeadphones));
  const std::wstring headphones = audio.otherDevice.id;
  const std::vector<std::pair<std::wstring, ERole>> expected = {
      {headphones, eConsole}, {headphones, eMultimedia}, {headphones, eCommunications}};
  EXPECT_TRUE(Eventually([&] { return policy.Calls() == expected; }));
  // The system makes the switch and says so; the list follows.
  audio.enumerator.device = &audio.otherDevice;
  Watcher()->OnDefaultDeviceChanged(eRender, eConsole, headphones.c_str());
  EXPECT_TRUE(Eventually([&] { return outputs->List().defaultId == kHeadphones; }));
  // Unplugged: it leaves the list.
  audio.enumerator.device = &audio.device;
  audio.enumerator.collection.Set({&audio.device});
  Watcher()->OnDeviceStateChanged(headphones.c_str(), DEVICE_STATE_UNPLUGGED);
  EXPECT_TRUE(Eventually([&] {
    return outputs->List() == OutputList{{{kSpeakers, "Speakers"}}, kSpeakers, true};
  }));
  EXPECT_FALSE(outputs->MakeDefault(kHeadphones));
}

TEST_F(EndpointOutputsTest, WhatTheSystemRefusesIsLoggedAndNeverFaked) {
  {
    // No policy object (another layout, or none): the list without a choice.
    g_policyCreateResult = E_NOINTERFACE;
    auto outputs = Start();
    EXPECT_FALSE(outputs->List().canChoose);
    EXPECT_FALSE(outputs->MakeDefault(kHeadphones));
  }
  {
    // The first role refused: the others are not tried, and the reason is in the log.
    g_policyCreateResult = S_OK;
    policy.setResult = E_ACCESSDENIED;
    auto outputs = Start();
    ASSERT_TRUE(outputs->MakeDefault(kHeadphones));
    EXPECT_TRUE(Eventually([&] { return policy.Calls().size() == 1; }));
    EXPECT_TRUE(Eventually([&] {
      for (const std::string& line : log.Lines()) {
        if (line.find("SetDefaultEndpoint") != std::string::npos &&
            line.find("0x80070005") != std::string::npos)
          return true;
      }
      return false;
    }));
  }
  {
    // A device without a name is shown by its id; one whose id cannot travel is left out.
    policy.setResult = S_OK;
    audio.device.store.name.clear();
    audio.otherDevice.id = L"not one word";
    auto outputs = Start();
    EXPECT_EQ(outputs->List(), (OutputList{{{kSpeakers, kSpeakers}}, kSpeakers, true}));
  }
}

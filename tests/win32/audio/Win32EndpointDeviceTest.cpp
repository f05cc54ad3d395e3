// The Core Audio adapter, under the endpoint backend, against COM test doubles; and the real
// COM start-up under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FakeCoreAudio.h"
#include "audio/EndpointVolumeControl.h"
#include "audio/win32/Win32EndpointDevice.h"

namespace {

using namespace std::chrono_literals;

std::mutex gSeenMutex;
std::vector<VolumeState> gSeen;

void RecordChange(int32_t, const VolumeState* state) {
  std::lock_guard lock(gSeenMutex);
  gSeen.push_back(*state);
}

std::vector<VolumeState> Seen() {
  std::lock_guard lock(gSeenMutex);
  return gSeen;
}

class EndpointAdapter : public testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard lock(gSeenMutex);
    gSeen.clear();
  }
  std::unique_ptr<EndpointVolumeControl> MakeBackend() {
    return std::make_unique<EndpointVolumeControl>(
        std::make_unique<Win32EndpointDevice>(&FakeCoreAudio::CreateEnumerator));
  }
  // Delivers a notification the way the audio system does: on a thread of its own.
  static HRESULT NotifyFromAudioThread(IAudioEndpointVolumeCallback* callback, BOOL muted,
                                       float scalar) {
    HRESULT result = E_FAIL;
    std::thread([&] {
      AUDIO_VOLUME_NOTIFICATION_DATA data{};
      data.bMuted = muted;
      data.fMasterVolume = scalar;
      data.nChannels = 1;
      result = callback->OnNotify(&data);
    }).join();
    return result;
  }

  FakeCoreAudio audio;
};

}  // namespace

TEST_F(EndpointAdapter, InitializeAsksForTheConsoleRenderEndpointAndKeepsOnlyTheVolume) {
  audio.volume.mute = TRUE;
  audio.volume.scalar = 0.375f;
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  EXPECT_EQ(audio.enumerator.askedFlow, eRender);
  EXPECT_EQ(audio.enumerator.askedRole, eConsole);
  EXPECT_EQ(std::memcmp(&audio.device.activatedIid, &kIidAudioEndpointVolume, sizeof(IID)), 0);
  EXPECT_EQ(audio.device.activatedContext, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
  EXPECT_FALSE(audio.device.activationParameters);
  // The enumerator and the device are let go; the volume interface and the registration stay.
  EXPECT_EQ(audio.enumerator.references, 0);
  EXPECT_EQ(audio.device.references, 0);
  EXPECT_EQ(audio.volume.references, 1);
  ASSERT_NE(audio.volume.registered, nullptr);

  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{1, 38}));

  IAudioEndpointVolumeCallback* registered = audio.volume.registered;
  EXPECT_TRUE(backend->Shutdown());
  EXPECT_EQ(audio.volume.unregistered, registered) << "unregistered with the pointer registered";
  EXPECT_EQ(audio.volume.registered, nullptr);
  EXPECT_EQ(audio.volume.references, 0);
}

TEST_F(EndpointAdapter, NotificationsFromTheAudioThreadReachTheChangeCallback) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 0);
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;
  ASSERT_NE(callback, nullptr);

  const struct {
    BOOL muted;
    float scalar;
    VolumeState expected;
  } cases[] = {{FALSE, 0.125f, {0, 13}}, {FALSE, 0.375f, {0, 38}}, {7, 0.5f, {1, 50}},
               {FALSE, 1.0f, {0, 100}}, {FALSE, 0.0f, {0, 0}},    {FALSE, 0.0f, {0, 0}}};
  for (const auto& c : cases) {
    EXPECT_EQ(NotifyFromAudioThread(callback, c.muted, c.scalar), S_OK);
  }
  const std::vector<VolumeState> seen = Seen();
  ASSERT_EQ(seen.size(), std::size(cases)) << "a repeated state is reported too";
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], cases[i].expected) << i;
  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{0, 0}));

  EXPECT_EQ(callback->OnNotify(nullptr), E_INVALIDARG);
  EXPECT_EQ(Seen().size(), std::size(cases));

  backend->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(backend->Shutdown());
}

TEST_F(EndpointAdapter, CallbackAnswersOnlyItsTwoInterfaces) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;

  for (const IID* accepted : {&kIidUnknown, &kIidAudioEndpointVolumeCallback}) {
    void* object = nullptr;
    ASSERT_EQ(callback->QueryInterface(*accepted, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(callback));
    // Our reference, the audio system's and the one QueryInterface took.
    EXPECT_EQ(callback->AddRef(), 4u);
    EXPECT_EQ(callback->Release(), 3u);
    EXPECT_EQ(callback->Release(), 2u);
  }
  IID almost = kIidAudioEndpointVolumeCallback;
  almost.Data4[7] ^= 1;  // differs in the last byte only
  IID almostUnknown = kIidUnknown;
  almostUnknown.Data1 = 1;
  const IID* refusedIds[] = {&kIidAudioEndpointVolume, &almost, &almostUnknown};
  for (const IID* refused : refusedIds) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(callback->QueryInterface(*refused, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(callback->AddRef(), 3u) << "refusals took no reference";
  callback->Release();
  EXPECT_TRUE(backend->Shutdown());
}

TEST_F(EndpointAdapter, AReferenceKeptByTheAudioSystemOutlivesTheBackend) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 0);
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;
  callback->AddRef();  // a late notification still in the audio system's hands
  backend->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(backend->Shutdown());
  backend.reset();

  // Delivered after unregistration: refused quietly, nothing reaches the destroyed backend.
  EXPECT_EQ(NotifyFromAudioThread(callback, TRUE, 0.5f), S_OK);
  EXPECT_TRUE(Seen().empty());
  EXPECT_EQ(callback->Release(), 0u) << "the last reference destroys it";
}

TEST_F(EndpointAdapter, UnregisteringWaitsForARunningNotification) {
  // A target that blocks inside its notification until released.
  struct BlockingTarget final : IEndpointNotifyTarget {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, release = false;
    int32_t OnNotify(const EndpointNotification*) override {
      std::unique_lock lock(mutex);
      entered = true;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
      return 0;
    }
  } target;
  Win32EndpointDevice device(&FakeCoreAudio::CreateEnumerator);
  ASSERT_TRUE(device.CreateEnumerator());
  ASSERT_TRUE(device.GetDefaultRenderEndpoint());
  ASSERT_TRUE(device.ActivateEndpointVolume());
  ASSERT_TRUE(device.RegisterNotify(&target));
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;

  std::thread audioThread([&] {
    AUDIO_VOLUME_NOTIFICATION_DATA data{};
    callback->OnNotify(&data);
  });
  {
    std::unique_lock lock(target.mutex);
    ASSERT_TRUE(target.changed.wait_for(lock, 5s, [&] { return target.entered; }));
  }
  std::atomic<bool> unregistered{false};
  std::thread mainThread([&] {
    device.UnregisterNotify(&target);
    unregistered = true;
  });
  std::this_thread::sleep_for(50ms);  // a wrong early return would show here
  EXPECT_FALSE(unregistered);
  {
    std::lock_guard lock(target.mutex);
    target.release = true;
  }
  target.changed.notify_all();
  audioThread.join();
  mainThread.join();
  EXPECT_TRUE(unregistered);
}

TEST_F(EndpointAdapter, InitializeFailuresReleaseWhatWasTaken) {
  {
    audio.createResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::NoInterface);
    audio.createResult = S_OK;
  }
  {
    audio.enumerator.defaultResult = E_NOTFOUND;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::NoDevice);
    EXPECT_EQ(audio.enumerator.references, 0);
    audio.enumerator.defaultResult = S_OK;
  }
  {
    audio.device.activateResult = E_NOINTERFACE;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed);
    EXPECT_EQ(audio.device.references, 0);
    EXPECT_EQ(audio.enumerator.references, 0);
    audio.device.activateResult = S_OK;
  }
  {
    // The backend gives up without Shutdown; destroying it lets the volume interface go.
    audio.volume.getScalarResult = E_FAIL;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed);
    EXPECT_EQ(audio.volume.references, 0);
    audio.volume.getScalarResult = S_OK;
  }
  {
    audio.volume.registerResult = E_FAIL;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed);
    EXPECT_EQ(audio.volume.references, 0);
    EXPECT_EQ(audio.device.references, 0);
    EXPECT_EQ(audio.enumerator.references, 0);
  }
}

TEST_F(EndpointAdapter, SetStateWritesBothWithoutEventContext) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  const VolumeState request{1, 1};
  EXPECT_TRUE(backend->SetState(&request));
  EXPECT_EQ(audio.volume.writtenScalar, static_cast<float>(1 / 100.0));
  EXPECT_EQ(audio.volume.writtenMute, TRUE);
  EXPECT_FALSE(audio.volume.nonNullContext);

  audio.volume.setScalarResult = E_FAIL;
  const VolumeState unmute{0, 40};
  EXPECT_FALSE(backend->SetState(&unmute));
  EXPECT_EQ(audio.volume.muteWrites, 2) << "the mute is written even after a failed volume";
  EXPECT_EQ(audio.volume.writtenMute, FALSE);
  EXPECT_TRUE(backend->Shutdown());
}

TEST_F(EndpointAdapter, ShutdownReportsUnregistrationFailureAndOtherReferences) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  audio.volume.AddRef();  // someone else still holds the volume interface
  EXPECT_FALSE(backend->Shutdown());
  audio.volume.Release();

  auto second = MakeBackend();
  ASSERT_EQ(second->Initialize(), InitResult::Ok);
  audio.volume.unregisterResult = E_FAIL;
  EXPECT_FALSE(second->Shutdown());
}

// The real audio system under Wine: the enumerator can be created on a thread that never joined
// a COM apartment, because the adapter joins one first.
TEST(EndpointAdapterOnWine, CreatesTheSystemEnumeratorOnAFreshThread) {
  bool created = false;
  std::thread([&] {
    Win32EndpointDevice device;
    created = device.CreateEnumerator();
    if (created) device.ReleaseEnumerator();
  }).join();
  EXPECT_TRUE(created);
}

// The endpoint backend on its Core Audio adapter, against COM test doubles; and the real COM
// start-up under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FakeCoreAudio.h"
#include "audio/win32/EndpointVolumeControl.h"
#include "audio/win32/Win32EndpointDevice.h"
#include "fakes/Eventually.h"

namespace {

using namespace std::chrono_literals;

std::mutex gSeenMutex;
std::vector<VolumeState> gSeen;
std::atomic<int32_t> gWrongUserData{0};

void RecordChange(int32_t userData, const VolumeState* state) {
  if (userData != 42) ++gWrongUserData;
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
    gWrongUserData = 0;
  }
  std::unique_ptr<EndpointVolumeControl> MakeBackend() {
    return std::make_unique<EndpointVolumeControl>(
        std::make_unique<Win32EndpointDevice>(&FakeCoreAudio::CreateEnumerator));
  }
  // The enumerator's news of a new default device, from a thread of its own.
  static void DefaultChangedFromAudioThread(IMMNotificationClient* client, EDataFlow flow,
                                            ERole role) {
    std::thread([&] {
      client->OnDefaultDeviceChanged(flow, role, L"{0.0.0.00000000}.{other}");
    }).join();
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

TEST_F(EndpointAdapter, InitializeAsksForTheConsoleRenderEndpointAndKeepsTheVolumeAndTheWatch) {
  audio.volume.mute = TRUE;
  audio.volume.scalar = 0.375f;
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  EXPECT_EQ(audio.enumerator.askedFlow, eRender);
  EXPECT_EQ(audio.enumerator.askedRole, eConsole);
  EXPECT_EQ(std::memcmp(&audio.device.activatedIid, &kIidAudioEndpointVolume, sizeof(IID)), 0);
  EXPECT_EQ(audio.device.activatedContext, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
  EXPECT_FALSE(audio.device.activationParameters);
  // The device is let go; the volume interface with its registration stays, and so does the
  // enumerator, which tells of a new default device.
  EXPECT_EQ(audio.device.references, 0);
  EXPECT_EQ(audio.volume.references, 1);
  ASSERT_NE(audio.volume.registered, nullptr);
  EXPECT_EQ(audio.enumerator.references, 1);
  ASSERT_NE(audio.enumerator.client, nullptr);

  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{1, 38}));

  IAudioEndpointVolumeCallback* registered = audio.volume.registered;
  EXPECT_TRUE(backend->Shutdown());
  EXPECT_EQ(audio.volume.unregistered, registered) << "unregistered with the pointer registered";
  EXPECT_EQ(audio.volume.registered, nullptr);
  EXPECT_EQ(audio.volume.references, 0);
  EXPECT_EQ(audio.enumerator.client, nullptr);
  EXPECT_EQ(audio.enumerator.references, 0);
}

TEST_F(EndpointAdapter, NotificationsFromTheAudioThreadReachTheChangeCallback) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 42);
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;
  ASSERT_NE(callback, nullptr);

  const struct {
    BOOL muted;
    float scalar;
    VolumeState expected;
  } cases[] = {{FALSE, 0.125f, {0, 13}}, {FALSE, 0.375f, {0, 38}}, {7, 0.5f, {1, 50}},
               {FALSE, 1.0f, {0, 100}},  {FALSE, 0.0f, {0, 0}},    {FALSE, 0.0f, {0, 0}}};
  for (const auto& c : cases) {
    EXPECT_EQ(NotifyFromAudioThread(callback, c.muted, c.scalar), S_OK);
  }
  const std::vector<VolumeState> seen = Seen();
  ASSERT_EQ(seen.size(), std::size(cases)) << "a repeated state is reported too";
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], cases[i].expected) << i;
  EXPECT_EQ(gWrongUserData, 0);
  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{0, 0}));

  EXPECT_EQ(callback->OnNotify(nullptr), E_INVALIDARG);
  EXPECT_EQ(Seen().size(), std::size(cases));

  // Once cleared, the cache still follows but nobody is called.
  backend->SetChangeCallback(nullptr, 0);
  EXPECT_EQ(NotifyFromAudioThread(callback, FALSE, 0.25f), S_OK);
  EXPECT_EQ(Seen().size(), std::size(cases));
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{0, 25}));
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
  backend->SetChangeCallback(&RecordChange, 42);
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
      changed.wait_for(lock, 10s, [&] { return release; });
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
  // Once the audio system was asked, the callback in progress is all it may wait for; an early
  // return can only be watched for a while.
  ASSERT_TRUE(Eventually([&] { return audio.volume.unregistered.load() == callback; }));
  EXPECT_FALSE(Eventually([&] { return unregistered.load(); }, 20ms));
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
    EXPECT_EQ(audio.enumerator.client, nullptr);
    audio.volume.registerResult = S_OK;
  }
  {
    // Without news of the default device the start-up device still serves.
    audio.enumerator.registerClientResult = E_FAIL;
    auto backend = MakeBackend();
    EXPECT_EQ(backend->Initialize(), InitResult::Ok);
    EXPECT_EQ(audio.enumerator.references, 0);
    EXPECT_TRUE(backend->Shutdown());
  }
}

TEST_F(EndpointAdapter, SetStateWritesBothWithoutEventContextAndReportsNothingItself) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 42);
  const VolumeState request{1, 1};
  EXPECT_TRUE(backend->SetState(&request));
  EXPECT_EQ(audio.volume.writtenScalar, static_cast<float>(1 / 100.0));
  EXPECT_EQ(audio.volume.writtenMute, TRUE);
  EXPECT_FALSE(audio.volume.nonNullContext);
  // The change comes back by notification, not from SetState.
  EXPECT_TRUE(Seen().empty());
  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, VolumeState{});

  audio.volume.setScalarResult = E_FAIL;
  const VolumeState unmute{0, 40};
  EXPECT_FALSE(backend->SetState(&unmute));
  EXPECT_EQ(audio.volume.muteWrites, 2) << "the mute is written even after a failed volume";
  EXPECT_EQ(audio.volume.writtenMute, FALSE);
  backend->SetChangeCallback(nullptr, 0);
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

namespace {
std::atomic<bool> gInCallback{false};
std::atomic<bool> gReleaseCallback{false};
std::atomic<int> gSlowCalls{0};
void SlowCallback(int32_t, const VolumeState*) {
  gInCallback = true;
  while (!gReleaseCallback) std::this_thread::yield();
  ++gSlowCalls;
}
}  // namespace

TEST_F(EndpointAdapter, ClearingTheCallbackWaitsForOneRunningAndStopsLaterOnes) {
  gInCallback = false;
  gReleaseCallback = false;
  gSlowCalls = 0;
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&SlowCallback, 0);
  IAudioEndpointVolumeCallback* callback = audio.volume.registered;
  std::thread notifier([&] { NotifyFromAudioThread(callback, FALSE, 0.5f); });
  while (!gInCallback) std::this_thread::yield();

  std::atomic<bool> cleared{false};
  std::thread clearer([&] {
    backend->SetChangeCallback(nullptr, 0);
    cleared = true;
  });
  // The clear cannot finish while the callback runs; give it every chance to (wrongly) do so.
  for (int i = 0; i < 1000 && !cleared; ++i) std::this_thread::yield();
  EXPECT_FALSE(cleared);
  gReleaseCallback = true;
  clearer.join();
  notifier.join();
  EXPECT_TRUE(cleared);
  NotifyFromAudioThread(callback, TRUE, 0.1f);
  EXPECT_EQ(gSlowCalls, 1);
  EXPECT_TRUE(backend->Shutdown());
}

// The user picks another playback device: later writes go to it, its state is reported once,
// the old device is let go, and nothing of either is left after Shutdown.
TEST_F(EndpointAdapter, FollowsTheDefaultPlaybackDevice) {
  audio.volume.scalar = 0.375f;
  audio.otherVolume.mute = TRUE;
  audio.otherVolume.scalar = 0.5f;
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 42);
  IAudioEndpointVolumeCallback* oldCallback = audio.volume.registered;
  oldCallback->AddRef();  // a notification of the old device still on its way
  IMMNotificationClient* client = audio.enumerator.client;
  ASSERT_NE(client, nullptr);

  audio.enumerator.device = &audio.otherDevice;
  // Other flows and roles are not ours to follow.
  DefaultChangedFromAudioThread(client, eCapture, eConsole);
  DefaultChangedFromAudioThread(client, eRender, eCommunications);
  DefaultChangedFromAudioThread(client, eRender, eConsole);
  ASSERT_TRUE(Eventually([&] { return !Seen().empty(); }));
  EXPECT_EQ(Seen(), (std::vector<VolumeState>{{1, 50}}));
  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{1, 50}));
  EXPECT_NE(audio.otherVolume.registered, nullptr);
  EXPECT_EQ(audio.volume.unregistered, oldCallback);
  EXPECT_EQ(audio.volume.references, 0);
  EXPECT_EQ(audio.device.references, 0);
  EXPECT_EQ(audio.otherDevice.references, 0);

  const VolumeState request{0, 20};
  EXPECT_TRUE(backend->SetState(&request));
  EXPECT_EQ(audio.otherVolume.writtenScalar, 0.2f);
  EXPECT_EQ(audio.volume.scalarWrites, 0);

  // The old device's late news is dropped; the new device's arrives.
  EXPECT_EQ(NotifyFromAudioThread(oldCallback, FALSE, 1.0f), S_OK);
  EXPECT_EQ(NotifyFromAudioThread(audio.otherVolume.registered, FALSE, 0.2f), S_OK);
  EXPECT_EQ(Seen(), (std::vector<VolumeState>{{1, 50}, {0, 20}}));
  EXPECT_EQ(oldCallback->Release(), 0u);

  backend->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(backend->Shutdown());
  EXPECT_EQ(Seen().size(), 2u) << "the switch was reported once";
  EXPECT_EQ(audio.enumerator.client, nullptr);
  EXPECT_EQ(audio.otherVolume.registered, nullptr);
  EXPECT_EQ(audio.enumerator.references, 0);
  EXPECT_EQ(audio.otherVolume.references, 0);
  EXPECT_EQ(audio.otherDevice.references, 0);
}

TEST_F(EndpointAdapter, WritesReadsNotificationsAndDeviceSwitchesRunTogether) {
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);
  backend->SetChangeCallback(&RecordChange, 42);
  IMMNotificationClient* client = audio.enumerator.client;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        const VolumeState request{static_cast<uint8_t>(i & 1), (i * 7 + t) % 101};
        backend->SetState(&request);
        VolumeState seen;
        backend->GetState(&seen);
      }
    });
  }
  // Notifications through the callback that the audio system holds a reference to.
  IAudioEndpointVolumeCallback* first = audio.volume.registered;
  first->AddRef();
  threads.emplace_back([&] {
    for (int i = 0; !stop; ++i) NotifyFromAudioThread(first, i & 1, (i % 101) / 100.0f);
  });
  for (int i = 0; i < 40; ++i) {
    audio.enumerator.device = i % 2 == 0 ? &audio.device : &audio.otherDevice;
    DefaultChangedFromAudioThread(client, eRender, eConsole);
    std::this_thread::yield();
  }
  // Settle on the other device, then let everything stop.
  ASSERT_TRUE(Eventually([&] { return audio.otherVolume.registered != nullptr; }));
  stop = true;
  for (std::thread& t : threads) t.join();
  first->Release();
  backend->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(backend->Shutdown());

  EXPECT_EQ(audio.volume.callsWhileReleased, 0);
  EXPECT_EQ(audio.otherVolume.callsWhileReleased, 0);
  EXPECT_EQ(gWrongUserData, 0);
  for (const VolumeState& s : Seen()) {
    EXPECT_LE(s.volume, 100);
    EXPECT_GE(s.volume, 0);
  }
  EXPECT_EQ(audio.volume.references, 0);
  EXPECT_EQ(audio.otherVolume.references, 0);
  EXPECT_EQ(audio.device.references, 0);
  EXPECT_EQ(audio.otherDevice.references, 0);
  EXPECT_EQ(audio.enumerator.references, 0);
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

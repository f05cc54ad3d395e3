#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio/EndpointVolumeControl.h"
#include "fakes/FakeEndpointDevice.h"

namespace {
using Calls = std::vector<std::string>;

struct EndpointFixture : ::testing::Test {
  FakeEndpointDevice::Record device;
  std::unique_ptr<EndpointVolumeControl> control;

  void Build() {
    control = std::make_unique<EndpointVolumeControl>(std::make_unique<FakeEndpointDevice>(device));
  }
  InitResult Init() {
    Build();
    return control->Initialize();
  }
  VolumeState State() {
    VolumeState s;
    EXPECT_TRUE(control->GetState(&s));
    return s;
  }
};

// Collects callback invocations; the callback is a plain function, so the sink is global.
struct CallbackLog {
  std::mutex mutex;
  std::vector<std::pair<int32_t, VolumeState>> calls;
};
CallbackLog* g_log = nullptr;
void Record(int32_t userData, const VolumeState* state) {
  std::lock_guard lock(g_log->mutex);
  g_log->calls.emplace_back(userData, *state);
}
}  // namespace

TEST_F(EndpointFixture, InitializeTakesTheFirstReadingAndReleasesAllButTheVolume) {
  device.muted = true;
  device.scalar = 0.375f;
  ASSERT_EQ(Init(), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 38}));
  EXPECT_EQ(device.Calls(), (Calls{"CreateEnumerator", "GetDefaultRenderEndpoint",
                                   "ActivateEndpointVolume", "GetMute", "GetMasterScalar",
                                   "RegisterNotify", "ReleaseDevice", "ReleaseEnumerator"}));
  EXPECT_TRUE(control->Shutdown());
}

TEST_F(EndpointFixture, EachFailingStepGivesItsResultAndReleasesWhatItHeld) {
  struct Case {
    bool FakeEndpointDevice::Script::*step;
    InitResult result;
    Calls releases;
  };
  const Calls kAll{"ReleaseDevice", "ReleaseEnumerator", "ReleaseEndpointVolume"};
  const Case cases[] = {
      {&FakeEndpointDevice::Script::enumerator, InitResult::NoInterface, {}},
      {&FakeEndpointDevice::Script::endpoint, InitResult::NoDevice, {"ReleaseEnumerator"}},
      {&FakeEndpointDevice::Script::activate,
       InitResult::Failed,
       {"ReleaseDevice", "ReleaseEnumerator"}},
      // Past activation the volume interface is given back too: Shutdown will never run.
      {&FakeEndpointDevice::Script::getMute, InitResult::Failed, kAll},
      {&FakeEndpointDevice::Script::getScalar, InitResult::Failed, kAll},
      {&FakeEndpointDevice::Script::registerNotify, InitResult::Failed, kAll},
  };
  for (const Case& c : cases) {
    FakeEndpointDevice::Record record;
    record.script.*(c.step) = false;
    EndpointVolumeControl failing(std::make_unique<FakeEndpointDevice>(record));
    EXPECT_EQ(failing.Initialize(), c.result);
    Calls releases;
    for (const std::string& call : record.Calls()) {
      if (call.rfind("Release", 0) == 0) releases.push_back(call);
    }
    EXPECT_EQ(releases, c.releases);
    EXPECT_EQ(record.target, nullptr);
    // A failed initialisation keeps the default state: nothing half-read leaks out.
    VolumeState s;
    failing.GetState(&s);
    EXPECT_EQ(s, VolumeState{});
  }
}

TEST_F(EndpointFixture, NotificationsStoreTheReadingAndCallBackEveryTime) {
  CallbackLog log;
  g_log = &log;
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Record, 42);
  EXPECT_EQ(device.Notify(0, 0.125f), kNotifyOk);
  EXPECT_EQ(device.Notify(7, 0.5f), kNotifyOk);
  EXPECT_EQ(device.Notify(7, 0.5f), kNotifyOk);  // unchanged, still reported
  EXPECT_EQ(State(), (VolumeState{1, 50}));
  ASSERT_EQ(log.calls.size(), 3u);
  EXPECT_EQ(log.calls[0], std::make_pair(42, VolumeState{0, 13}));
  EXPECT_EQ(log.calls[2], std::make_pair(42, VolumeState{1, 50}));
  control->SetChangeCallback(nullptr, 0);
  device.Notify(0, 1.0f);
  EXPECT_EQ(log.calls.size(), 3u);
  EXPECT_EQ(State(), (VolumeState{0, 100}));
  control->Shutdown();
  g_log = nullptr;
}

TEST_F(EndpointFixture, NullNotificationIsRefusedAndChangesNothing) {
  CallbackLog log;
  g_log = &log;
  device.scalar = 0.25f;
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Record, 0);
  EXPECT_EQ(control->OnNotify(nullptr), kNotifyInvalidArg);
  EXPECT_EQ(State(), (VolumeState{0, 25}));
  EXPECT_TRUE(log.calls.empty());
  control->Shutdown();
  g_log = nullptr;
}

TEST_F(EndpointFixture, SetStateWritesBothAndLeavesTheCacheAlone) {
  CallbackLog log;
  g_log = &log;
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Record, 0);
  const VolumeState request{1, 1};
  EXPECT_TRUE(control->SetState(&request));
  EXPECT_EQ(device.scalarWrites, std::vector<float>{0.01f});
  EXPECT_EQ(device.muteWrites, std::vector<bool>{true});
  EXPECT_EQ(State(), VolumeState{});  // only a notification changes the cache
  EXPECT_TRUE(log.calls.empty());
  control->Shutdown();
  g_log = nullptr;
}

TEST_F(EndpointFixture, SetStateAttemptsTheMuteEvenWhenTheVolumeWriteFails) {
  ASSERT_EQ(Init(), InitResult::Ok);
  const VolumeState request{1, 30};
  device.script.setScalar = false;
  EXPECT_FALSE(control->SetState(&request));
  EXPECT_EQ(device.muteWrites, std::vector<bool>{true});
  EXPECT_TRUE(device.muted);

  device.script.setScalar = true;
  device.script.setMute = false;
  EXPECT_FALSE(control->SetState(&request));
  EXPECT_FLOAT_EQ(device.scalar, 0.3f);
  control->Shutdown();
}

TEST_F(EndpointFixture, ShutdownUnregistersReleasesAndReportsProblems) {
  ASSERT_EQ(Init(), InitResult::Ok);
  device.script.unregisterNotify = false;
  EXPECT_FALSE(control->Shutdown());
  const Calls calls = device.Calls();
  EXPECT_EQ(Calls(calls.end() - 2, calls.end()),
            (Calls{"UnregisterNotify", "ReleaseEndpointVolume"}));

  FakeEndpointDevice::Record other;
  other.script.releaseVolume = false;
  EndpointVolumeControl second(std::make_unique<FakeEndpointDevice>(other));
  ASSERT_EQ(second.Initialize(), InitResult::Ok);
  EXPECT_FALSE(second.Shutdown());
}

namespace {
std::atomic<bool> g_inCallback{false};
std::atomic<bool> g_releaseCallback{false};
std::atomic<int> g_slowCalls{0};
void SlowCallback(int32_t, const VolumeState*) {
  g_inCallback = true;
  while (!g_releaseCallback) std::this_thread::yield();
  ++g_slowCalls;
}
}  // namespace

TEST_F(EndpointFixture, ClearingTheCallbackWaitsForOneRunningAndStopsLaterOnes) {
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&SlowCallback, 0);
  std::thread notifier([&] { device.Notify(0, 0.5f); });
  while (!g_inCallback) std::this_thread::yield();

  std::atomic<bool> cleared{false};
  std::thread clearer([&] {
    control->SetChangeCallback(nullptr, 0);
    cleared = true;
  });
  // The clear cannot finish while the callback runs; give it every chance to (wrongly) do so.
  for (int i = 0; i < 1000 && !cleared; ++i) std::this_thread::yield();
  EXPECT_FALSE(cleared);
  g_releaseCallback = true;
  clearer.join();
  notifier.join();
  EXPECT_TRUE(cleared);
  device.Notify(1, 0.1f);
  EXPECT_EQ(g_slowCalls.load(), 1);
  control->Shutdown();
}

namespace {
std::atomic<int> g_concurrentCalls{0};
void CountAndRead(int32_t, const VolumeState* state) {
  EXPECT_LE(state->volume, 100);
  EXPECT_GE(state->volume, 0);
  ++g_concurrentCalls;
}
}  // namespace

TEST_F(EndpointFixture, WritersReadersAndNotificationsRunTogetherCleanly) {
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&CountAndRead, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const VolumeState request{static_cast<uint8_t>(i & 1), (i * 7 + t) % 101};
        control->SetState(&request);
        VolumeState seen;
        control->GetState(&seen);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) device.Notify(i & 1, static_cast<float>(i % 101) / 100.0f);
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g_concurrentCalls.load(), 200);
  control->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(control->Shutdown());
}

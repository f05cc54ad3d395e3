// The endpoint backend on a real sound server (the private daemon of with-sound-server.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/EndpointVolumeControl.h"
#include "audio/linux/LinuxAudioPlatform.h"
#include "audio/linux/PulseEndpointDevice.h"
#include "fixtures/SoundServer.h"

using namespace soundserver;

namespace {
// What the change callback saw; the callback is a plain function, so this is global.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<VolumeState> states;
  std::atomic<IVolumeControl*> control{nullptr};  // when set, the callback also calls GetState
};
Seen g_seen;

void OnChange(int32_t, const VolumeState* state) {
  if (IVolumeControl* control = g_seen.control.load()) {
    VolumeState copy;
    control->GetState(&copy);
  }
  {
    std::lock_guard lock(g_seen.mutex);
    g_seen.states.push_back(*state);
  }
  g_seen.changed.notify_all();
}

bool AwaitState(VolumeState wanted, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  std::unique_lock lock(g_seen.mutex);
  return g_seen.changed.wait_for(
      lock, timeout, [&] { return !g_seen.states.empty() && g_seen.states.back() == wanted; });
}

class PulseEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    QUAVIX_NEED_SOUND_SERVER();
    lock_ = std::make_unique<SoundServerLock>();
    ASSERT_TRUE(ResetServer());
    std::lock_guard lock(g_seen.mutex);
    g_seen.states.clear();
    g_seen.control = nullptr;
  }
  void TearDown() override {
    if (control_ != nullptr) {
      control_->SetChangeCallback(nullptr, 0);
      EXPECT_TRUE(control_->Shutdown());
      control_.reset();
    }
    if (lock_ != nullptr) ResetServer();
  }
  void Start() {
    control_ = std::make_unique<EndpointVolumeControl>(std::make_unique<PulseEndpointDevice>());
    ASSERT_EQ(control_->Initialize(), InitResult::Ok);
    control_->SetChangeCallback(&OnChange, 0);
  }
  VolumeState State() {
    VolumeState s;
    control_->GetState(&s);
    return s;
  }
  bool Set(uint8_t muted, int32_t volume) {
    const VolumeState request{muted, volume};
    return control_->SetState(&request);
  }

  std::unique_ptr<SoundServerLock> lock_;
  std::unique_ptr<EndpointVolumeControl> control_;
};
}  // namespace

TEST_F(PulseEndpoint, FirstReadingIsTheDefaultSinksState) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 37% && pactl set-sink-mute " +
                    TestSink() + " 1"));
  Start();
  EXPECT_EQ(State(), (VolumeState{1, 37}));
}

TEST_F(PulseEndpoint, ChangesMadeElsewhereReachTheCallback) {
  Start();
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 45%"));
  EXPECT_TRUE(AwaitState({0, 45}));
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 1"));
  EXPECT_TRUE(AwaitState({1, 45}));
  EXPECT_EQ(State(), (VolumeState{1, 45}));
}

TEST_F(PulseEndpoint, SetStateIsSeenByOtherClientsAndComesBackAsANotification) {
  Start();
  ASSERT_TRUE(Set(1, 30));
  EXPECT_EQ(RawChannelVolumes(TestSink()), "19661 19661");
  EXPECT_TRUE(IsMuted(TestSink()));
  EXPECT_TRUE(AwaitState({1, 30}));
}

TEST_F(PulseEndpoint, EveryPercentWrittenReadsBackUnchanged) {
  Start();
  for (int32_t percent = 0; percent <= 100; ++percent) {
    ASSERT_TRUE(Set(0, percent));
    // 100 is where the test starts: no change, no notification; the reading settles it.
    if (percent == 100) break;
    ASSERT_TRUE(AwaitState({0, percent})) << percent;
  }
  EndpointVolumeControl fresh(std::make_unique<PulseEndpointDevice>());
  ASSERT_EQ(fresh.Initialize(), InitResult::Ok);
  VolumeState s;
  fresh.GetState(&s);
  EXPECT_EQ(s, (VolumeState{0, 100}));
  fresh.Shutdown();
}

TEST_F(PulseEndpoint, WritesKeepTheChannelBalance) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 52428 26214"));  // 80 %, 40 %
  Start();
  EXPECT_EQ(State(), (VolumeState{0, 80}));  // the loudest channel is the master level
  ASSERT_TRUE(Set(0, 50));
  EXPECT_EQ(RawChannelVolumes(TestSink()), "32768 16384");
  EXPECT_TRUE(AwaitState({0, 50}));
}

TEST_F(PulseEndpoint, AChangeOfDefaultSinkIsFollowed) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 20%"));
  Start();
  ASSERT_TRUE(Shell("pactl set-default-sink " + OtherSink()));
  EXPECT_TRUE(AwaitState({0, 20}));
  ASSERT_TRUE(Set(1, 60));
  EXPECT_TRUE(IsMuted(OtherSink()));
  EXPECT_FALSE(IsMuted(TestSink()));
  EXPECT_TRUE(AwaitState({1, 60}));
  // Events of the sink that is no longer the default are not ours.
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 10%"));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 61%"));
  EXPECT_TRUE(AwaitState({1, 61}));
  std::lock_guard lock(g_seen.mutex);
  for (const VolumeState& s : g_seen.states) EXPECT_NE(s.volume, 10);
}

TEST_F(PulseEndpoint, ReadersWritersAndShutdownRaceCleanly) {
  Start();
  g_seen.control = control_.get();
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        const VolumeState request{static_cast<uint8_t>(i & 1), (i * 13 + t * 7) % 101};
        control_->SetState(&request);
      }
    });
  }
  // Another program keeps changing the sink, so notifications are in flight at Shutdown.
  std::thread outsider([] {
    Shell("for i in $(seq 40); do pactl set-sink-volume " + TestSink() + " $((i * 2))%; done");
  });
  EXPECT_TRUE(Eventually([] {
    std::lock_guard lock(g_seen.mutex);
    return g_seen.states.size() >= 20;
  }));
  // Our own writers end before Shutdown, as the server stops first; the outsider does not.
  stop = true;
  for (std::thread& w : writers) w.join();
  control_->SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(control_->Shutdown());
  control_.reset();
  outsider.join();
}

TEST(PulseEndpointWithoutServer, NoServerMeansNoInterfaceAndBareAlsa) {
  // Point libpulse at a socket that does not exist: nothing may be spawned or found.
  const char* old = std::getenv("PULSE_SERVER");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("PULSE_SERVER", "unix:/nonexistent/quavix/native", 1);
  EndpointVolumeControl control(std::make_unique<PulseEndpointDevice>());
  EXPECT_EQ(control.Initialize(), InitResult::NoInterface);
  LinuxAudioPlatform platform;
  EXPECT_EQ(platform.OsMajorVersion(), LinuxAudioPlatform::kBareAlsaGeneration);
  if (old != nullptr) {
    ::setenv("PULSE_SERVER", saved.c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
}

TEST(PulseEndpointPlatform, ASoundServerMeansGenerationSix) {
  QUAVIX_NEED_SOUND_SERVER();
  LinuxAudioPlatform platform;
  EXPECT_EQ(platform.OsMajorVersion(), LinuxAudioPlatform::kSoundServerGeneration);
}

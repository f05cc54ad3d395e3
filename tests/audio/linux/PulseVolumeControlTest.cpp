// The sound-server backend on a real server: the shared private daemon of
// with-sound-server.sh, and for restarts and stops a daemon of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/linux/PulseVolumeControl.h"
#include "support/SoundServer.h"

using namespace soundserver;

namespace {
// What the change callback saw; the callback is a plain function, so this is global.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<VolumeState> states;
  std::thread::id lastThread;
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
    g_seen.lastThread = std::this_thread::get_id();
  }
  g_seen.changed.notify_all();
}

bool AwaitState(VolumeState wanted) {
  std::unique_lock lock(g_seen.mutex);
  return g_seen.changed.wait_for(lock, std::chrono::seconds(10), [&] {
    return !g_seen.states.empty() && g_seen.states.back() == wanted;
  });
}

VolumeState LastSeen() {
  std::lock_guard lock(g_seen.mutex);
  return g_seen.states.empty() ? VolumeState{} : g_seen.states.back();
}

size_t SeenCount() {
  std::lock_guard lock(g_seen.mutex);
  return g_seen.states.size();
}

void ClearSeen() {
  std::lock_guard lock(g_seen.mutex);
  g_seen.states.clear();
  g_seen.control = nullptr;
}

bool Set(IVolumeControl& control, uint8_t muted, int32_t volume) {
  const VolumeState request{muted, volume};
  return control.SetState(&request);
}

VolumeState StateOf(IVolumeControl& control) {
  VolumeState state;
  control.GetState(&state);
  return state;
}

class PulseVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    QUAVIX_NEED_SOUND_SERVER();
    lock_ = std::make_unique<SoundServerLock>();
    ASSERT_TRUE(ResetServer());
    ClearSeen();
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
    control_ = std::make_unique<PulseVolumeControl>();
    ASSERT_EQ(control_->Initialize(), InitResult::Ok);
    control_->SetChangeCallback(&OnChange, 0);
  }

  std::unique_ptr<SoundServerLock> lock_;
  std::unique_ptr<PulseVolumeControl> control_;
};

// Points libpulse at a daemon of the test's own for the test's lifetime.
class OwnDaemon {
 public:
  OwnDaemon() : old_(std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "") {
    ::setenv("PULSE_SERVER", pulse.Server().c_str(), 1);
  }
  ~OwnDaemon() {
    if (old_.empty()) {
      ::unsetenv("PULSE_SERVER");
    } else {
      ::setenv("PULSE_SERVER", old_.c_str(), 1);
    }
  }
  soundserver::PrivatePulse pulse;

 private:
  std::string old_;
};
}  // namespace

TEST_F(PulseVolume, FirstReadingThenChangesMadeElsewhere) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 37% && pactl set-sink-mute " +
                    TestSink() + " 1"));
  Start();
  EXPECT_EQ(StateOf(*control_), (VolumeState{1, 37}));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 45%"));
  EXPECT_TRUE(AwaitState({1, 45}));
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 0"));
  EXPECT_TRUE(AwaitState({0, 45}));
  EXPECT_EQ(StateOf(*control_), (VolumeState{0, 45}));
}

TEST_F(PulseVolume, SetStateReachesTheSinkAndKeepsItsBalance) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 52428 26214"));  // 80 %, 40 %
  Start();
  EXPECT_EQ(StateOf(*control_), (VolumeState{0, 80}));  // the loudest channel is the level
  ASSERT_TRUE(Set(*control_, 1, 50));
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes(TestSink()) == "32768 16384"; }));
  EXPECT_TRUE(IsMuted(TestSink()));
}

TEST_F(PulseVolume, ARequestIsReportedBeforeSetStateReturnsAndOtherChangesStillAre) {
  Start();
  ASSERT_TRUE(Set(*control_, 1, 30));
  EXPECT_EQ(LastSeen(), (VolumeState{1, 30}));
  EXPECT_EQ(g_seen.lastThread, std::this_thread::get_id());
  EXPECT_EQ(StateOf(*control_), (VolumeState{1, 30}));
  // Repeating the cached state is no news.
  ASSERT_TRUE(Set(*control_, 1, 30));
  EXPECT_EQ(SeenCount(), 1u);
  EXPECT_TRUE(Eventually([] { return IsMuted(TestSink()); }));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 45%"));
  EXPECT_TRUE(AwaitState({1, 45}));
}

TEST_F(PulseVolume, EveryPercentWrittenReadsBackUnchanged) {
  Start();
  for (int32_t percent = 0; percent <= 100; ++percent) {
    ASSERT_TRUE(Set(*control_, 0, percent));
    // A change made elsewhere has the backend read the sink: the level must read back as sent.
    ASSERT_TRUE(Pactl("set-sink-mute " + TestSink() + " 1"));
    ASSERT_TRUE(AwaitState({1, percent})) << percent;
    // And the sound server's own reading agrees (one call in ten: each costs a process).
    const std::string shown = std::to_string(percent) + " " + std::to_string(percent);
    if (percent % 10 == 7) {
      EXPECT_EQ(ChannelPercents(TestSink()), shown);
    }
  }
  EXPECT_EQ(RawChannelVolumes(TestSink()), "65536 65536");
}

TEST_F(PulseVolume, ARampIsReportedInOrderAndEndsWhereTheSinkDoes) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 0%"));
  Start();
  // Up and down, paced as a dragged slider sends: the server's reading of one step arrives
  // after the next was reported, and must not move the reports back.
  std::vector<VolumeState> requests;
  for (int32_t percent = 1; percent <= 100; ++percent) requests.push_back({0, percent});
  for (int32_t percent = 99; percent >= 0; --percent) requests.push_back({0, percent});
  for (size_t i = 0; i < requests.size(); ++i) {
    ASSERT_TRUE(control_->SetState(&requests[i]));
    std::this_thread::sleep_for(std::chrono::microseconds(100 * (i % 8)));
  }
  EXPECT_TRUE(Eventually([] { return RawChannelVolumes(TestSink()) == "0 0"; }));
  // The reading after the last write agrees with the cache, so nothing more is reported.
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 1"));
  EXPECT_TRUE(AwaitState({1, 0}));
  requests.push_back({1, 0});
  std::lock_guard lock(g_seen.mutex);
  EXPECT_EQ(g_seen.states, requests);
}

TEST_F(PulseVolume, ASwitchOfDefaultSinkIsFollowed) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 20%"));
  Start();
  ASSERT_TRUE(Shell("pactl set-default-sink " + OtherSink()));
  EXPECT_TRUE(AwaitState({0, 20}));
  ASSERT_TRUE(Set(*control_, 1, 60));
  EXPECT_TRUE(Eventually([] { return IsMuted(OtherSink()); }));
  EXPECT_FALSE(IsMuted(TestSink()));
  // Events of the sink that is no longer the default are not ours.
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 10%"));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + OtherSink() + " 61%"));
  EXPECT_TRUE(AwaitState({1, 61}));
  std::lock_guard lock(g_seen.mutex);
  for (const VolumeState& s : g_seen.states) EXPECT_NE(s.volume, 10);
}

TEST_F(PulseVolume, ReadersWritersAndShutdownRaceCleanly) {
  Start();
  g_seen.control = control_.get();
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        Set(*control_, static_cast<uint8_t>(i & 1), (i * 13 + t * 7) % 101);
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

TEST(PulseVolumeOwnDaemon, NoServerIsNoInterface) {
  OwnDaemon daemon;  // never started: nothing may be spawned or found
  PulseVolumeControl control;
  EXPECT_EQ(control.Initialize(), InitResult::NoInterface);
}

TEST(PulseVolumeOwnDaemon, TheBackendComesBackAfterTheServerRestarts) {
  QUAVIX_NEED_SOUND_SERVER();
  ClearSeen();
  OwnDaemon daemon;
  ASSERT_TRUE(daemon.pulse.Start());
  PulseVolumeControl control;
  ASSERT_EQ(control.Initialize(), InitResult::Ok);
  control.SetChangeCallback(&OnChange, 0);
  ASSERT_TRUE(daemon.pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 42%"));
  EXPECT_TRUE(AwaitState({0, 42}));

  daemon.pulse.Kill();
  EXPECT_TRUE(Eventually([&] { return !Set(control, 1, 10); }));  // nobody to take it
  ASSERT_TRUE(daemon.pulse.Start());
  // The new server starts at 100 %: that is reported once the backend is back.
  EXPECT_TRUE(AwaitState({0, 100}));
  ASSERT_TRUE(daemon.pulse.Pactl("set-sink-volume @DEFAULT_SINK@ 33%"));
  EXPECT_TRUE(AwaitState({0, 33}));
  EXPECT_TRUE(Set(control, 1, 60));
  EXPECT_TRUE(AwaitState({1, 60}));

  control.SetChangeCallback(nullptr, 0);
  EXPECT_TRUE(control.Shutdown());
}

TEST(PulseVolumeOwnDaemon, AStoppedServerHoldsUpNeitherSetStateNorShutdown) {
  QUAVIX_NEED_SOUND_SERVER();
  ClearSeen();
  OwnDaemon daemon;
  ASSERT_TRUE(daemon.pulse.Start());
  PulseVolumeControl control;
  ASSERT_EQ(control.Initialize(), InitResult::Ok);
  control.SetChangeCallback(&OnChange, 0);

  daemon.pulse.Pause();
  // Two reader threads writing to the stopped server: every call comes back (a hang fails the
  // bounded wait, however long the server stays stopped), and each request is reported.
  std::atomic<int> returned{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        Set(control, static_cast<uint8_t>(t), i * 2 + t);
        ++returned;
      }
    });
  }
  const bool allReturned = Eventually([&] { return returned == 100; });
  // Without the server nothing can correct the cache: it and the last report must already be
  // the request queued last, the one the server applies once it runs again.
  const VolumeState cached = StateOf(control);
  const VolumeState reported = LastSeen();
  daemon.pulse.Resume();
  for (std::thread& reader : readers) reader.join();
  ASSERT_TRUE(allReturned);
  EXPECT_EQ(reported, cached);
  EXPECT_GE(SeenCount(), 2u);
  EXPECT_TRUE(Eventually([&] {
    const std::string percent = std::to_string(cached.volume);
    return ChannelPercents("@DEFAULT_SINK@", daemon.pulse.Server()) == percent + " " + percent &&
           IsMuted("@DEFAULT_SINK@", daemon.pulse.Server()) == (cached.muted != 0);
  }));
  EXPECT_EQ(StateOf(control), cached);
  control.SetChangeCallback(nullptr, 0);

  daemon.pulse.Pause();
  std::atomic<bool> shutDown{false};
  std::thread closer([&] {
    control.Shutdown();
    shutDown = true;
  });
  const bool closed = Eventually([&] { return shutDown.load(); });
  daemon.pulse.Resume();
  closer.join();
  EXPECT_TRUE(closed);
}

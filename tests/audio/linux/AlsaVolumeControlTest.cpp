// The ALSA backend on real alsa-lib: ALSA's "default" control device is routed by the test
// HOME's .asoundrc to the private sound server, so pactl plays the other program.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "audio/linux/AlsaVolumeControl.h"
#include "fakes/FakePollTimer.h"
#include "support/SoundServer.h"

using namespace soundserver;

namespace {
// The relay reads the backend's state afresh on a change, so that is what is recorded.
std::vector<VolumeState>* g_changes = nullptr;
IVolumeControl* g_control = nullptr;
void OnChange(int32_t, const VolumeState*) {
  VolumeState state;
  if (g_control != nullptr && g_control->GetState(&state)) g_changes->push_back(state);
}

class AlsaMixer : public ::testing::Test {
 protected:
  void SetUp() override {
    QUAVIX_NEED_SOUND_SERVER();
    lock_ = std::make_unique<SoundServerLock>();
    ASSERT_TRUE(ResetServer());
    g_changes = &changes_;
  }
  void TearDown() override {
    if (control_ != nullptr) {
      control_->SetChangeCallback(nullptr, 0);
      control_->Shutdown();
      control_.reset();
    }
    g_changes = nullptr;
    g_control = nullptr;
    if (lock_ != nullptr) ResetServer();
  }
  void Start() {
    control_ = std::make_unique<AlsaVolumeControl>(timer_);
    ASSERT_EQ(control_->Initialize(), InitResult::Ok);
    g_control = control_.get();
    control_->SetChangeCallback(&OnChange, 0);
  }
  VolumeState State() {
    VolumeState s;
    control_->GetState(&s);
    return s;
  }
  // Ticks the poll timer until the callback reported `wanted` (the plugin's event from the
  // server may trail pactl's return by a moment).
  bool PollUntil(VolumeState wanted) {
    return Eventually([&] {
      timer_.Tick();
      return !changes_.empty() && changes_.back() == wanted;
    });
  }

  std::unique_ptr<SoundServerLock> lock_;
  FakePollTimer timer_;
  std::vector<VolumeState> changes_;
  std::unique_ptr<AlsaVolumeControl> control_;
};
}  // namespace

TEST_F(AlsaMixer, FirstReadingAndOutsideChangesAtTheNextPolls) {
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 26215 && pactl set-sink-mute " +
                    TestSink() + " 1"));
  Start();
  EXPECT_EQ(State(), (VolumeState{1, 40}));
  ASSERT_TRUE(Shell("pactl set-sink-mute " + TestSink() + " 0"));
  EXPECT_TRUE(PollUntil({0, 40}));
  ASSERT_TRUE(Shell("pactl set-sink-volume " + TestSink() + " 25%"));
  EXPECT_TRUE(PollUntil({0, 25}));
  EXPECT_LE(timer_.periods.back(), 50u);  // read again soon after a change
}

TEST_F(AlsaMixer, SetStateReachesTheServerWithMuteAsTheSwitchOff) {
  Start();
  const VolumeState request{1, 50};
  ASSERT_TRUE(control_->SetState(&request));
  EXPECT_EQ(RawChannelVolumes(TestSink()), "32768 32768");
  EXPECT_TRUE(IsMuted(TestSink()));
  EXPECT_TRUE(PollUntil({1, 50}));
  const VolumeState unmute{0, 75};
  ASSERT_TRUE(control_->SetState(&unmute));
  EXPECT_FALSE(IsMuted(TestSink()));
  EXPECT_TRUE(PollUntil(unmute));
}

TEST_F(AlsaMixer, WritesFromReaderThreadsWhilePollingStayClean) {
  Start();
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 30; ++i) {
        const VolumeState request{static_cast<uint8_t>(i & 1), (i * 11 + t) % 101};
        control_->SetState(&request);
      }
    });
  }
  for (int i = 0; i < 50; ++i) timer_.Tick();
  for (std::thread& w : writers) w.join();
  const VolumeState last{0, 77};
  ASSERT_TRUE(control_->SetState(&last));
  EXPECT_TRUE(PollUntil(last));
}

// The polled mixer backend over a fake line: the poll timer's rhythm, what a poll reports,
// and the poll target's life.
#include <gtest/gtest.h>

#include <vector>

#include "FakeMixerDevice.h"
#include "audio/win32/WaveOutVolumeControl.h"
#include "fakes/FakePollTimer.h"

namespace {
constexpr uint32_t kVolumeId = 10;
constexpr uint32_t kMuteId = 11;

std::vector<VolumeState>* g_seen = nullptr;
void Remember(int32_t userData, const VolumeState* state) {
  EXPECT_EQ(userData, 5);
  g_seen->push_back(*state);
}

struct MixerFixture : ::testing::Test {
  FakeMixerDevice::Record mixer;
  FakePollTimer timer;
  std::unique_ptr<WaveOutVolumeControl> control;
  std::vector<VolumeState> seen;

  void SetUp() override { g_seen = &seen; }
  void TearDown() override {
    control.reset();
    g_seen = nullptr;
  }
  void StandardLine() {
    mixer.AddControl(kVolumeId, kMixerControlTypeVolume, 0, 65535);
    mixer.AddControl(kMuteId, kMixerControlTypeMute);
  }
  InitResult Init() {
    control =
        std::make_unique<WaveOutVolumeControl>(std::make_unique<FakeMixerDevice>(mixer), timer);
    return control->Initialize();
  }
  VolumeState State() {
    VolumeState s;
    EXPECT_TRUE(control->GetState(&s));
    return s;
  }
};
}  // namespace

TEST_F(MixerFixture, InitializeReadsTheLineAndStartsPollingAt20) {
  StandardLine();
  mixer.SetValues(kVolumeId, 65535, 0);
  mixer.SetValues(kMuteId, 9, 9);
  ASSERT_EQ(Init(), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 49}));
  EXPECT_EQ(timer.periods, std::vector<uint32_t>{20});
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), control.get());
}

TEST_F(MixerFixture, FirstControlOfEachKindWinsInListedOrder) {
  mixer.AddControl(1, 0x12345678);  // neither kind
  mixer.AddControl(2, kMixerControlTypeMute);
  mixer.AddControl(3, kMixerControlTypeVolume, 0, 100);
  mixer.AddControl(4, kMixerControlTypeVolume, 0, 65535);
  mixer.AddControl(5, kMixerControlTypeMute);
  mixer.SetValues(3, 30, 30);
  mixer.SetValues(4, 65535, 65535);
  mixer.SetValues(5, 1, 1);
  ASSERT_EQ(Init(), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{0, 30}));
  const VolumeState request{1, 50};
  EXPECT_TRUE(control->SetState(&request));
  const auto writes = mixer.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].controlId, 3u);
  EXPECT_EQ(writes[0].value, 50u);
  EXPECT_EQ(writes[1].controlId, 2u);
  EXPECT_EQ(writes[1].value, 1u);
}

TEST_F(MixerFixture, QuietPollsBackOffAndAChangeBringsBack20) {
  StandardLine();
  mixer.SetValues(kVolumeId, 65535, 65535);
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Remember, 5);
  for (int i = 0; i < 6; ++i) timer.Tick();
  EXPECT_EQ(timer.periods, (std::vector<uint32_t>{20, 40, 80, 160, 250, 250, 250}));
  EXPECT_TRUE(seen.empty());

  // What a client asked for comes back at the next poll, like any other change.
  const VolumeState request{0, 1};
  control->SetState(&request);
  EXPECT_TRUE(seen.empty());
  timer.Tick();
  EXPECT_EQ(timer.periods.back(), 20u);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (VolumeState{0, 0}));
  EXPECT_EQ(State(), (VolumeState{0, 0}));
  timer.Tick();
  EXPECT_EQ(timer.periods.back(), 40u);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(MixerFixture, AnyMuteValueOtherThanZeroReadsAsMuted) {
  StandardLine();
  mixer.SetValues(kVolumeId, 65535, 65535);
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Remember, 5);
  mixer.SetValues(kMuteId, 0x80000000u, 0);
  timer.Tick();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].muted, 1);
}

TEST_F(MixerFixture, AFailedPollReadLeavesCacheAndClientsAloneAndBacksOff) {
  StandardLine();
  mixer.SetValues(kVolumeId, 32768, 32768);
  mixer.SetValues(kMuteId, 1, 1);
  ASSERT_EQ(Init(), InitResult::Ok);
  control->SetChangeCallback(&Remember, 5);
  mixer.readsFail = true;
  timer.Tick();
  timer.Tick();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(State(), (VolumeState{1, 50}));
  EXPECT_EQ(timer.periods, (std::vector<uint32_t>{20, 40, 80}));

  mixer.readsFail = false;
  mixer.SetValues(kMuteId, 0, 0);
  timer.Tick();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (VolumeState{0, 50}));
  EXPECT_EQ(timer.periods.back(), 20u);
}

TEST_F(MixerFixture, PollAfterShutdownAndTickAfterDestructionDoNothing) {
  StandardLine();
  ASSERT_EQ(Init(), InitResult::Ok);
  EXPECT_TRUE(control->Shutdown());
  EXPECT_EQ(timer.kills, 1);
  const size_t periods = timer.periods.size();
  const int reads = mixer.reads;
  timer.Tick();  // a tick queued before the kill
  EXPECT_EQ(timer.periods.size(), periods);
  EXPECT_EQ(mixer.reads, reads);

  control.reset();
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
  timer.Tick();
  EXPECT_EQ(mixer.reads, reads);
}

TEST_F(MixerFixture, DestroyingAnOlderObjectKeepsTheNewerPollTarget) {
  StandardLine();
  ASSERT_EQ(Init(), InitResult::Ok);
  FakeMixerDevice::Record other;
  FakePollTimer otherTimer;
  auto newer =
      std::make_unique<WaveOutVolumeControl>(std::make_unique<FakeMixerDevice>(other), otherTimer);
  control->Shutdown();
  control.reset();
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), newer.get());
  newer.reset();
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
}

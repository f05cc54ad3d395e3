// The mixer backend on real alsa-lib, over a test-only control plugin that takes the shapes a
// real card may have. The process reads only the configuration written here, so the tests do
// not depend on the machine's sound set-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "audio/WaveOutVolumeControl.h"
#include "audio/linux/AlsaMixerDevice.h"
#include "fakes/FakePollTimer.h"

namespace {
std::string g_configPath;

class AlsaShape : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char path[] = "/tmp/quavix-alsa-shape-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    g_configPath = path;
    std::ofstream config(g_configPath);
    config << "ctl_type.quavix_shape { lib \"" QUAVIX_SHAPE_PLUGIN "\" }\n"
           << "ctl.quavix_shape {\n"
           << "  @args [ SHAPE ]\n"
           << "  @args.SHAPE { type string default \"plain\" }\n"
           << "  type quavix_shape\n"
           << "  shape $SHAPE\n"
           << "}\n";
    config.close();
    // Read before alsa-lib loads any configuration in this process.
    ::setenv("ALSA_CONFIG_PATH", g_configPath.c_str(), 1);
  }
  static void TearDownTestSuite() { std::remove(g_configPath.c_str()); }

  void TearDown() override {
    if (control_ != nullptr && started_) control_->Shutdown();
  }
  InitResult Start(const std::string& shape) {
    auto device = std::make_unique<AlsaMixerDevice>("quavix_shape:" + shape);
    device_ = device.get();
    control_ = std::make_unique<WaveOutVolumeControl>(std::move(device), timer_);
    const InitResult result = control_->Initialize();
    started_ = result == InitResult::Ok;
    return result;
  }
  VolumeState State() {
    VolumeState s;
    control_->GetState(&s);
    return s;
  }

  FakePollTimer timer_;
  AlsaMixerDevice* device_ = nullptr;  // owned by control_
  std::unique_ptr<WaveOutVolumeControl> control_;
  bool started_ = false;
};

std::vector<VolumeState>* g_changes = nullptr;
void OnChange(int32_t, const VolumeState* state) {
  g_changes->push_back(*state);
}
}  // namespace

TEST_F(AlsaShape, UnequalChannelsOnAWideRangeReadAsTheirTruncatedAverage) {
  ASSERT_EQ(Start("plain"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{0, 49}));  // 65535 and 0 on 0..65535
}

TEST_F(AlsaShape, WritesAreRoundedOnTheRawRangeAndSeenByTheNextPoll) {
  ASSERT_EQ(Start("plain"), InitResult::Ok);
  std::vector<VolumeState> changes;
  g_changes = &changes;
  control_->SetChangeCallback(&OnChange, 0);
  for (const auto& [percent, raw] : {std::pair{50, 32768u}, {100, 65535u}, {1, 655u}}) {
    const VolumeState request{1, percent};
    ASSERT_TRUE(control_->SetState(&request));
    uint32_t values[2] = {0, 0};
    ASSERT_TRUE(device_->GetControlValues(0, 2, values));
    EXPECT_EQ(values[0], raw);
    EXPECT_EQ(values[1], raw);
    uint32_t muted = 0;
    ASSERT_TRUE(device_->GetControlValues(1, 1, &muted));
    EXPECT_EQ(muted, 1u);  // the switch went off
  }
  timer_.Tick();
  // 1 % is written as 655, which reads back as 0; the poll reports what the mixer holds.
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], (VolumeState{1, 0}));
  control_->SetChangeCallback(nullptr, 0);
  g_changes = nullptr;
}

TEST_F(AlsaShape, ALineWithoutAMuteSwitchFailsToInitialise) {
  EXPECT_EQ(Start("nomute"), InitResult::Failed);
  EXPECT_TRUE(timer_.periods.empty());
}

TEST_F(AlsaShape, TheFirstVolumeControlInTheMixersOrderIsUsed) {
  ASSERT_EQ(Start("twovolumes"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 25}));  // Master (16384 of 65535), PCM's switch off
  const VolumeState request{0, 50};
  ASSERT_TRUE(control_->SetState(&request));
  MixerLineInfo line;
  ASSERT_TRUE(device_->GetDestinationLine(&line));
  std::vector<MixerControlInfo> controls;
  ASSERT_TRUE(device_->GetLineControls(line, &controls));
  ASSERT_EQ(controls.size(), 3u);
  uint32_t pcm[2] = {0, 0};
  ASSERT_TRUE(device_->GetControlValues(controls[1].controlId, 2, pcm));
  EXPECT_EQ(pcm[0], 255u);  // the second volume control was left alone
  timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{0, 50}));
}

TEST_F(AlsaShape, AMonoElementGivesItsValueForBothChannels) {
  ASSERT_EQ(Start("mono"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 40}));
}

TEST_F(AlsaShape, AControlWithoutRangeReadsFull) {
  ASSERT_EQ(Start("fixed"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{0, 100}));
  const VolumeState request{0, 30};
  EXPECT_TRUE(control_->SetState(&request));
  timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{0, 100}));
}

TEST_F(AlsaShape, AnUnknownShapeCannotBeAttached) {
  EXPECT_EQ(Start("nosuchshape"), InitResult::NoDevice);
}

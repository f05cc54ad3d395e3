// The ALSA backend on real alsa-lib, over a test-only control plugin that takes the shapes a
// real card may have, and the factory's choice when no sound server answers. The process reads
// only the configuration written here, so the tests do not depend on the machine's sound set-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/VolumeControlFactory.h"
#include "audio/linux/AlsaVolumeControl.h"
#include "audio/linux/PulseVolumeControl.h"
#include "fakes/FakeErrorReporter.h"
#include "fakes/FakePollTimer.h"

namespace {
std::string g_configPath;

// What the relay would send on a change: it ignores the callback's argument and reads the
// backend's state afresh, so that is what is recorded.
std::vector<VolumeState>* g_changes = nullptr;
IVolumeControl* g_control = nullptr;
void OnChange(int32_t, const VolumeState*) {
  VolumeState state;
  if (g_changes != nullptr && g_control != nullptr && g_control->GetState(&state)) {
    g_changes->push_back(state);
  }
}

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
           << "  @args [ SHAPE FAIL ]\n"
           << "  @args.SHAPE { type string default \"plain\" }\n"
           << "  @args.FAIL { type string default \"\" }\n"
           << "  type quavix_shape\n"
           << "  shape $SHAPE\n"
           << "  failflag $FAIL\n"
           << "}\n"
           << "ctl.default {\n"
           << "  type quavix_shape\n"
           << "  shape { @func getenv vars [ QUAVIX_DEFAULT_SHAPE ] default \"plain\" }\n"
           << "}\n";
    config.close();
    // Read before alsa-lib loads any configuration in this process.
    ::setenv("ALSA_CONFIG_PATH", g_configPath.c_str(), 1);
    // No sound server may answer the factory here.
    ::setenv("PULSE_SERVER", "unix:/nonexistent/quavix/native", 1);
  }
  static void TearDownTestSuite() { std::remove(g_configPath.c_str()); }

  void SetUp() override { g_changes = &changes_; }
  void TearDown() override {
    if (control_ != nullptr && started_) control_->Shutdown();
    g_changes = nullptr;
    g_control = nullptr;
  }
  InitResult Start(const std::string& device) {
    control_ = std::make_unique<AlsaVolumeControl>(timer_, device);
    const InitResult result = control_->Initialize();
    started_ = result == InitResult::Ok;
    g_control = control_.get();
    if (started_) control_->SetChangeCallback(&OnChange, 0);
    return result;
  }
  VolumeState State() {
    VolumeState s;
    control_->GetState(&s);
    return s;
  }
  void Set(uint8_t muted, int32_t volume) {
    const VolumeState request{muted, volume};
    EXPECT_TRUE(control_->SetState(&request));
  }

  FakePollTimer timer_;
  std::vector<VolumeState> changes_;
  std::unique_ptr<AlsaVolumeControl> control_;
  bool started_ = false;
};
}  // namespace

TEST_F(AlsaShape, UnequalChannelsOnAWideRangeReadAsTheirTruncatedAverage) {
  ASSERT_EQ(Start("quavix_shape:plain"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{0, 49}));  // 65535 and 0 on 0..65535
}

TEST_F(AlsaShape, WritesAreRoundedOnTheRawRangeAndPollsBackOffUntilAChange) {
  ASSERT_EQ(Start("quavix_shape:plain"), InitResult::Ok);
  const size_t afterStart = timer_.periods.size();
  for (int tick = 0; tick < 8; ++tick) timer_.Tick();
  EXPECT_TRUE(changes_.empty());
  // A quiet mixer is read less and less often, but never left unread for more than a quarter
  // second: a change made on the computer reaches the clients about that fast.
  const std::vector<uint32_t> quiet(timer_.periods.begin() + afterStart, timer_.periods.end());
  EXPECT_GT(quiet.back(), timer_.periods.front());
  for (uint32_t period : quiet) EXPECT_LE(period, 250u);
  Set(1, 50);  // 32768 of 65535 reads back 50; the switch went off
  timer_.Tick();
  // Right after a change the mixer is read again soon: a slider dragged on the computer is
  // followed step by step.
  EXPECT_LE(timer_.periods.back(), 50u);
  Set(0, 1);  // 655 reads back 0
  timer_.Tick();
  // Each change is in the cache by the time it is reported.
  EXPECT_EQ(changes_, (std::vector<VolumeState>{{1, 50}, {0, 0}}));
  const uint32_t afterChange = timer_.periods.back();
  EXPECT_TRUE(control_->Shutdown());
  started_ = false;
  timer_.Tick();  // a tick already queued at Shutdown does nothing
  EXPECT_FALSE(timer_.running);
  EXPECT_EQ(timer_.periods.back(), afterChange);
}

// Client threads write while the main thread polls: alsa-lib's handles are not thread-safe, so
// every use must be serialised (the thread-sanitizer build sees the plugin's values raced).
TEST_F(AlsaShape, WritesFromReaderThreadsWhilePollingStayClean) {
  ASSERT_EQ(Start("quavix_shape:plain"), InitResult::Ok);
  std::vector<std::jthread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < 200; ++i) {
        const VolumeState request{static_cast<uint8_t>(i & 1), (i * 11 + t) % 101};
        control_->SetState(&request);
      }
    });
  }
  for (int i = 0; i < 300; ++i) timer_.Tick();
  for (std::jthread& w : writers) w.join();
  Set(0, 77);
  timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{0, 77}));
}

TEST_F(AlsaShape, TheFirstVolumeAndTheFirstSwitchInTheMixersOrderAreUsed) {
  ASSERT_EQ(Start("quavix_shape:twovolumes"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 25}));  // Master (16384 of 65535), PCM's switch off
  Set(0, 50);
  timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{0, 50}));
}

TEST_F(AlsaShape, MonoAndRangelessElements) {
  ASSERT_EQ(Start("quavix_shape:mono"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{1, 40}));
  control_->Shutdown();
  ASSERT_EQ(Start("quavix_shape:fixed"), InitResult::Ok);
  EXPECT_EQ(State(), (VolumeState{0, 100}));  // a control that cannot attenuate reads full
  Set(0, 30);
  timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{0, 100}));
}

TEST_F(AlsaShape, MixersThatCannotServe) {
  EXPECT_EQ(Start("quavix_shape:nomute"), InitResult::Failed);
  EXPECT_EQ(Start("quavix_shape:nosuchshape"), InitResult::NoDevice);
  // alsa-lib's own complaints about a card that does not exist are silenced; ours is one line.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Start("quavix_no_such_card"), InitResult::NoDevice);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_TRUE(timer_.periods.empty());
}

TEST_F(AlsaShape, AFailingMixerKeepsTheCacheAndIsOpenedAgainOnceItIsBack) {
  const std::string flag = g_configPath + ".fail";
  ASSERT_EQ(Start("quavix_shape:SHAPE=plain,FAIL=" + flag), InitResult::Ok);
  Set(1, 80);
  timer_.Tick();
  ASSERT_EQ(State(), (VolumeState{1, 80}));
  std::ofstream(flag).close();
  for (int tick = 0; tick < 5; ++tick) timer_.Tick();
  EXPECT_EQ(State(), (VolumeState{1, 80}));  // no reading is no news
  EXPECT_EQ(changes_.size(), 1u);
  EXPECT_TRUE(timer_.running);
  EXPECT_GT(timer_.periods.back(), timer_.periods.front());  // backs off as while quiet
  std::remove(flag.c_str());
  timer_.Tick();  // opened again: the card is back with values of its own
  EXPECT_EQ(State(), (VolumeState{0, 49}));
  EXPECT_EQ(changes_.back(), (VolumeState{0, 49}));
}

TEST_F(AlsaShape, WithoutASoundServerTheFactoryTakesTheMixerOrSaysWhyNot) {
  FakeErrorReporter reporter;
  ASSERT_TRUE(CreateVolumeControl(timer_, reporter));
  EXPECT_NE(dynamic_cast<AlsaVolumeControl*>(CurrentVolumeControl()), nullptr);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_TRUE(CurrentVolumeControl()->Shutdown());
  DestroyCurrentVolumeControl();
  EXPECT_EQ(CurrentVolumeControl(), nullptr);

  ::setenv("QUAVIX_DEFAULT_SHAPE", "nosuchshape", 1);
  EXPECT_FALSE(CreateVolumeControl(timer_, reporter));
  ::unsetenv("QUAVIX_DEFAULT_SHAPE");
  EXPECT_EQ(CurrentVolumeControl(), nullptr);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].text, "Could not locate audio device.");
  EXPECT_EQ(reporter.reports[0].title, "Quavix Server Error");
}

TEST_F(AlsaShape, TheMixerIsTheOneOutputAndOffersNoChoice) {
  ASSERT_EQ(Start("quavix_shape"), InitResult::Ok);
  IOutputDevices* outputs = control_->OutputDevices();
  ASSERT_NE(outputs, nullptr);
  EXPECT_EQ(outputs->List(), (OutputList{{{"mixer", "Quavix test shape"}}, "mixer", false}));
  EXPECT_FALSE(outputs->MakeDefault("mixer"));
}

#include <gtest/gtest.h>

#include "audio/EndpointVolumeControl.h"
#include "audio/VolumeControlFactory.h"
#include "audio/WaveOutVolumeControl.h"
#include "fakes/FakeEndpointDevice.h"
#include "fakes/FakeErrorReporter.h"
#include "fakes/FakeMixerDevice.h"
#include "fakes/FakePollTimer.h"

namespace {
class FakeAudioPlatform final : public IAudioPlatform {
 public:
  int version = 6;
  FakeEndpointDevice::Record endpoint;
  FakeMixerDevice::Record mixer;
  int OsMajorVersion() override { return version; }
  std::unique_ptr<IEndpointDevice> CreateEndpointDevice() override {
    return std::make_unique<FakeEndpointDevice>(endpoint);
  }
  std::unique_ptr<IMixerDevice> CreateMixerDevice() override {
    return std::make_unique<FakeMixerDevice>(mixer);
  }
};

struct FactoryFixture : ::testing::Test {
  FakeAudioPlatform platform;
  FakePollTimer timer;
  FakeErrorReporter reporter;
  void TearDown() override {
    if (CurrentVolumeControl() != nullptr) {
      CurrentVolumeControl()->Shutdown();
      DestroyCurrentVolumeControl();
    }
  }
};
}  // namespace

TEST_F(FactoryFixture, VersionSixOrMoreSelectsTheEndpointBackend) {
  for (int version : {6, 10}) {
    platform.version = version;
    ASSERT_TRUE(CreateVolumeControl(platform, timer, reporter));
    EXPECT_NE(dynamic_cast<EndpointVolumeControl*>(CurrentVolumeControl()), nullptr);
    CurrentVolumeControl()->Shutdown();
    DestroyCurrentVolumeControl();
    EXPECT_EQ(CurrentVolumeControl(), nullptr);
  }
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(FactoryFixture, OlderOrUnknownVersionsSelectTheMixerBackend) {
  platform.mixer.AddControl(1, kMixerControlTypeVolume, 0, 100);
  platform.mixer.AddControl(2, kMixerControlTypeMute);
  for (int version : {5, 0}) {
    platform.version = version;
    ASSERT_TRUE(CreateVolumeControl(platform, timer, reporter));
    EXPECT_NE(dynamic_cast<WaveOutVolumeControl*>(CurrentVolumeControl()), nullptr);
    EXPECT_EQ(WaveOutVolumeControl::PollTarget(), CurrentVolumeControl());
    CurrentVolumeControl()->Shutdown();
    DestroyCurrentVolumeControl();
    EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
  }
}

TEST_F(FactoryFixture, EachFailureShowsItsTextAndLeavesNothingBehind) {
  struct Case {
    bool FakeEndpointDevice::Script::*step;
    const char* text;
  };
  const Case cases[] = {
      {&FakeEndpointDevice::Script::enumerator, "Could not find volume control interface."},
      {&FakeEndpointDevice::Script::endpoint, "Could not locate audio device."},
      {&FakeEndpointDevice::Script::activate, "Initializing the audio control failed."},
  };
  for (const Case& c : cases) {
    FakeAudioPlatform failing;
    failing.endpoint.script.*(c.step) = false;
    FakeErrorReporter shown;
    EXPECT_FALSE(CreateVolumeControl(failing, timer, shown));
    ASSERT_EQ(shown.reports.size(), 1u);
    EXPECT_EQ(shown.reports[0].text, c.text);
    EXPECT_EQ(shown.reports[0].title, "Quavix Server Error");
    EXPECT_EQ(CurrentVolumeControl(), nullptr);
    EXPECT_TRUE(failing.endpoint.destroyed);
    for (const std::string& call : failing.endpoint.Calls()) {
      EXPECT_NE(call, "UnregisterNotify");  // Shutdown was not called
      EXPECT_NE(call, "ReleaseEndpointVolume");
    }
  }
}

TEST_F(FactoryFixture, MixerFailuresAreReportedTooAndClearThePollTarget) {
  platform.version = 5;
  EXPECT_FALSE(CreateVolumeControl(platform, timer, reporter));  // a line without controls
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].text, "Could not locate audio device.");
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
  EXPECT_EQ(timer.kills, 0);

  platform.mixer.AddControl(1, kMixerControlTypeVolume, 0, 100);
  EXPECT_FALSE(CreateVolumeControl(platform, timer, reporter));  // no mute control
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].text, "Initializing the audio control failed.");
}

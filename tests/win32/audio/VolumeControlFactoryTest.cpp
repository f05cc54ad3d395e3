// The backend choice by OS version, and what the user is told when a backend cannot start.
#include <gtest/gtest.h>

#include <cstring>

#include "FakeCoreAudio.h"
#include "FakeMixerDevice.h"
#include "audio/VolumeControlFactory.h"
#include "audio/win32/EndpointVolumeControl.h"
#include "audio/win32/WaveOutVolumeControl.h"
#include "audio/win32/Win32AudioPlatform.h"
#include "audio/win32/Win32EndpointDevice.h"
#include "fakes/FakeErrorReporter.h"
#include "fakes/FakePollTimer.h"

namespace {
// The real Core Audio adapter over the COM doubles, and a fake mixer.
class FakeAudioPlatform final : public IAudioPlatform {
 public:
  int version = 6;
  FakeCoreAudio coreAudio;
  FakeMixerDevice::Record mixer;
  int OsMajorVersion() override { return version; }
  std::unique_ptr<IEndpointDevice> CreateEndpointDevice() override {
    return std::make_unique<Win32EndpointDevice>(&FakeCoreAudio::CreateEnumerator);
  }
  std::unique_ptr<IMixerDevice> CreateMixerDevice() override {
    return std::make_unique<FakeMixerDevice>(mixer);
  }
  std::unique_ptr<IOutputDevices> CreateOutputDevices() override { return nullptr; }
};

struct FactoryFixture : ::testing::Test {
  FakeAudioPlatform platform;  // outlives TearDown's clean-up
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
    ASSERT_TRUE(CreateVolumeControlOn(platform, timer, reporter));
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
    ASSERT_TRUE(CreateVolumeControlOn(platform, timer, reporter));
    EXPECT_NE(dynamic_cast<WaveOutVolumeControl*>(CurrentVolumeControl()), nullptr);
    EXPECT_EQ(WaveOutVolumeControl::PollTarget(), CurrentVolumeControl());
    CurrentVolumeControl()->Shutdown();
    DestroyCurrentVolumeControl();
    EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
  }
  EXPECT_EQ(platform.coreAudio.creations, 0);
}

TEST_F(FactoryFixture, EachFailureShowsItsTextAndLeavesNothingBehind) {
  struct Case {
    void (*breakIt)(FakeCoreAudio&);
    const char* text;
  };
  const Case cases[] = {
      {[](FakeCoreAudio& a) { a.createResult = REGDB_E_CLASSNOTREG; },
       "Could not find volume control interface."},
      {[](FakeCoreAudio& a) { a.enumerator.defaultResult = E_NOTFOUND; },
       "Could not locate audio device."},
      {[](FakeCoreAudio& a) { a.device.activateResult = E_NOINTERFACE; },
       "Initializing the audio control failed."},
      {[](FakeCoreAudio& a) { a.volume.registerResult = E_FAIL; },
       "Initializing the audio control failed."},
  };
  for (const Case& c : cases) {
    FakeAudioPlatform failing;
    c.breakIt(failing.coreAudio);
    FakeErrorReporter shown;
    EXPECT_FALSE(CreateVolumeControlOn(failing, timer, shown));
    ASSERT_EQ(shown.reports.size(), 1u);
    EXPECT_EQ(shown.reports[0].text, c.text);
    EXPECT_EQ(shown.reports[0].title, "Quavix Server Error");
    EXPECT_EQ(CurrentVolumeControl(), nullptr);
    // Destroyed without Shutdown, yet nothing of the audio system is still held.
    EXPECT_EQ(failing.coreAudio.enumerator.references, 0);
    EXPECT_EQ(failing.coreAudio.device.references, 0);
    EXPECT_EQ(failing.coreAudio.volume.references, 0);
    EXPECT_EQ(failing.coreAudio.volume.unregistered, nullptr) << "Shutdown was not called";
  }
}

TEST_F(FactoryFixture, MixerFailuresAreReportedTooAndClearThePollTarget) {
  platform.version = 5;
  EXPECT_FALSE(CreateVolumeControlOn(platform, timer, reporter));  // a line without controls
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].text, "Could not locate audio device.");
  EXPECT_EQ(WaveOutVolumeControl::PollTarget(), nullptr);
  EXPECT_EQ(timer.kills, 0);

  platform.mixer.AddControl(1, kMixerControlTypeVolume, 0, 100);
  EXPECT_FALSE(CreateVolumeControlOn(platform, timer, reporter));  // no mute control
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].text, "Initializing the audio control failed.");
}

// The version query: a zeroed record with its size; a failed query reads as version 0.
namespace {
struct ScriptedVersion {
  static inline BOOL result = TRUE;
  static inline DWORD major = 0;
  static inline bool recordWasClean = false;
  static BOOL WINAPI Query(LPOSVERSIONINFOW info) {
    OSVERSIONINFOW clean{};
    clean.dwOSVersionInfoSize = sizeof clean;
    recordWasClean = std::memcmp(info, &clean, sizeof clean) == 0;
    if (result) info->dwMajorVersion = major;
    return result;
  }
};
}  // namespace

TEST(Win32AudioPlatform, MajorVersionFromAZeroedSizedRecord) {
  Win32AudioPlatform platform(&ScriptedVersion::Query);
  for (DWORD major : {5u, 6u, 10u}) {
    ScriptedVersion::result = TRUE;
    ScriptedVersion::major = major;
    EXPECT_EQ(platform.OsMajorVersion(), static_cast<int>(major));
    EXPECT_TRUE(ScriptedVersion::recordWasClean);
  }
  ScriptedVersion::result = FALSE;
  ScriptedVersion::major = 10;
  EXPECT_EQ(platform.OsMajorVersion(), 0) << "a failed query selects the mixer backend";
  EXPECT_GE(Win32AudioPlatform().OsMajorVersion(), 6) << "Wine reports a Vista-or-later system";
}

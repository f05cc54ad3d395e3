// The winmm mixer adapter, under the mixer backend, against a scripted mixer: the records it
// fills for every call, and what the backend makes of the answers.
#include <gtest/gtest.h>

#include <vector>

#include "fakes/FakePollTimer.h"
#include "audio/win32/WaveOutVolumeControl.h"
#include "audio/win32/Win32MixerDevice.h"

namespace {

struct DetailsCall {
  HMIXEROBJ mixer;
  DWORD flags;
  DWORD cbStruct, controlId, channels, multipleItems, cbDetails;
  HWND owner;
  std::vector<uint32_t> values;  // written values (set) or the values handed back (get)
};

// A mixer with one destination line; one instance at a time, reached by the static calls.
struct ScriptedMixer {
  MMRESULT lineResult = MMSYSERR_NOERROR, controlsResult = MMSYSERR_NOERROR;
  MMRESULT getResult = MMSYSERR_NOERROR, setResult = MMSYSERR_NOERROR;
  MMRESULT setVolumeResult = MMSYSERR_NOERROR;
  DWORD lineId = 0xFFFF0000;
  std::vector<MIXERCONTROLW> controls;
  DWORD reportedControls = ~0u;  // what the controls call reports back; ~0: all of them
  std::vector<uint32_t> volumeChannels = {32768, 32768};
  uint32_t mute = 0;
  DWORD volumeId = 0, muteId = 0;

  MIXERLINEW lineAsked{};
  HMIXEROBJ lineMixer = reinterpret_cast<HMIXEROBJ>(1);
  DWORD lineFlags = ~0u;
  MIXERLINECONTROLSW controlsAsked{};
  DWORD controlsFlags = ~0u;
  std::vector<DetailsCall> gets, sets;

  static ScriptedMixer*& Current() {
    static ScriptedMixer* current = nullptr;
    return current;
  }
  ScriptedMixer() { Current() = this; }
  ~ScriptedMixer() { Current() = nullptr; }

  void AddControl(DWORD id, DWORD type, DWORD minimum = 0, DWORD maximum = 65535) {
    MIXERCONTROLW control{};
    control.cbStruct = sizeof control;
    control.dwControlID = id;
    control.dwControlType = type;
    control.Bounds.dwMinimum = minimum;
    control.Bounds.dwMaximum = maximum;
    controls.push_back(control);
  }

  static MMRESULT WINAPI GetLineInfo(HMIXEROBJ mixer, LPMIXERLINEW line, DWORD flags) {
    ScriptedMixer* m = Current();
    m->lineMixer = mixer;
    m->lineFlags = flags;
    m->lineAsked = *line;
    if (m->lineResult != MMSYSERR_NOERROR) return m->lineResult;
    line->dwLineID = m->lineId;
    line->cControls = static_cast<DWORD>(m->controls.size());
    return MMSYSERR_NOERROR;
  }
  static MMRESULT WINAPI GetLineControls(HMIXEROBJ, LPMIXERLINECONTROLSW request, DWORD flags) {
    ScriptedMixer* m = Current();
    m->controlsAsked = *request;
    m->controlsFlags = flags;
    if (m->controlsResult != MMSYSERR_NOERROR) return m->controlsResult;
    const DWORD count = m->reportedControls == ~0u ? request->cControls : m->reportedControls;
    for (DWORD i = 0; i < count && i < m->controls.size(); ++i) request->pamxctrl[i] = m->controls[i];
    request->cControls = count;
    return MMSYSERR_NOERROR;
  }
  static DetailsCall Record(HMIXEROBJ mixer, LPMIXERCONTROLDETAILS d, DWORD flags) {
    return DetailsCall{mixer, flags, d->cbStruct, d->dwControlID, d->cChannels, d->cMultipleItems,
                       d->cbDetails, d->hwndOwner, {}};
  }
  static MMRESULT WINAPI GetDetails(HMIXEROBJ mixer, LPMIXERCONTROLDETAILS d, DWORD flags) {
    ScriptedMixer* m = Current();
    DetailsCall call = Record(mixer, d, flags);
    if (m->getResult != MMSYSERR_NOERROR) return m->getResult;
    auto* out = static_cast<uint32_t*>(d->paDetails);
    for (DWORD i = 0; i < d->cChannels; ++i) {
      out[i] = d->dwControlID == m->muteId ? m->mute : m->volumeChannels.at(i);
      call.values.push_back(out[i]);
    }
    m->gets.push_back(call);
    return MMSYSERR_NOERROR;
  }
  static MMRESULT WINAPI SetDetails(HMIXEROBJ mixer, LPMIXERCONTROLDETAILS d, DWORD flags) {
    ScriptedMixer* m = Current();
    DetailsCall call = Record(mixer, d, flags);
    const auto* in = static_cast<const uint32_t*>(d->paDetails);
    for (DWORD i = 0; i < d->cChannels; ++i) call.values.push_back(in[i]);
    m->sets.push_back(call);
    if (d->dwControlID == m->volumeId && m->setVolumeResult != MMSYSERR_NOERROR) {
      return m->setVolumeResult;
    }
    return m->setResult;
  }
};

const MixerApi kScriptedApi{&ScriptedMixer::GetLineInfo, &ScriptedMixer::GetLineControls,
                            &ScriptedMixer::GetDetails, &ScriptedMixer::SetDetails};

class MixerAdapter : public testing::Test {
 protected:
  void SetUp() override {
    mixer.volumeId = 11;
    mixer.muteId = 12;
  }
  std::unique_ptr<WaveOutVolumeControl> MakeBackend() {
    return std::make_unique<WaveOutVolumeControl>(std::make_unique<Win32MixerDevice>(kScriptedApi),
                                                  timer);
  }
  void ExpectRecord(const DetailsCall& call, DWORD controlId, DWORD channels) {
    EXPECT_EQ(call.mixer, nullptr) << "mixer 0";
    EXPECT_EQ(call.flags, 0u);
    EXPECT_EQ(call.cbStruct, sizeof(MIXERCONTROLDETAILS));
    EXPECT_EQ(call.controlId, controlId);
    EXPECT_EQ(call.channels, channels);
    EXPECT_EQ(call.multipleItems, 0u);
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.cbDetails, 4u);
  }

  ScriptedMixer mixer;
  FakePollTimer timer;
};

}  // namespace

TEST_F(MixerAdapter, InitializeAsksDestinationZeroOfMixerZeroAndReadsBothControls) {
  mixer.AddControl(10, MIXERCONTROL_CONTROLTYPE_BASS);
  mixer.AddControl(11, MIXERCONTROL_CONTROLTYPE_VOLUME);
  mixer.AddControl(12, MIXERCONTROL_CONTROLTYPE_MUTE);
  mixer.AddControl(13, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 100);  // a second one is passed over
  mixer.volumeChannels = {65535, 0};
  mixer.mute = 5;
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);

  EXPECT_EQ(mixer.lineMixer, nullptr);
  EXPECT_EQ(mixer.lineFlags, 0u);
  EXPECT_EQ(mixer.lineAsked.cbStruct, sizeof(MIXERLINEW));
  EXPECT_EQ(mixer.lineAsked.dwDestination, 0u);
  EXPECT_EQ(mixer.lineAsked.dwLineID, 0u);
  EXPECT_EQ(mixer.controlsFlags, 0u);
  EXPECT_EQ(mixer.controlsAsked.cbStruct, sizeof(MIXERLINECONTROLSW));
  EXPECT_EQ(mixer.controlsAsked.dwLineID, mixer.lineId);
  EXPECT_EQ(mixer.controlsAsked.cControls, 4u);
  EXPECT_EQ(mixer.controlsAsked.cbmxctrl, sizeof(MIXERCONTROLW));

  ASSERT_EQ(mixer.gets.size(), 2u);
  ExpectRecord(mixer.gets[0], 11, 2);
  ExpectRecord(mixer.gets[1], 12, 1);
  VolumeState state;
  backend->GetState(&state);
  EXPECT_EQ(state, (VolumeState{1, 49})) << "channels 65535 and 0 average to 49; mute 5 is on";
  backend->Shutdown();
}

TEST_F(MixerAdapter, SetStateWritesOneChannelEachAndStopsAfterAFailedVolume) {
  mixer.AddControl(11, MIXERCONTROL_CONTROLTYPE_VOLUME);
  mixer.AddControl(12, MIXERCONTROL_CONTROLTYPE_MUTE);
  auto backend = MakeBackend();
  ASSERT_EQ(backend->Initialize(), InitResult::Ok);

  const struct {
    int32_t volume;
    uint32_t raw;
  } cases[] = {{50, 32768}, {100, 65535}, {1, 655}, {0, 0}};
  for (const auto& c : cases) {
    mixer.sets.clear();
    const VolumeState request{1, c.volume};
    EXPECT_TRUE(backend->SetState(&request));
    ASSERT_EQ(mixer.sets.size(), 2u);
    ExpectRecord(mixer.sets[0], 11, 1);
    EXPECT_EQ(mixer.sets[0].values, std::vector<uint32_t>{c.raw}) << c.volume;
    ExpectRecord(mixer.sets[1], 12, 1);
    EXPECT_EQ(mixer.sets[1].values, std::vector<uint32_t>{1});
  }

  mixer.sets.clear();
  mixer.setVolumeResult = MMSYSERR_ERROR;
  const VolumeState request{0, 30};
  EXPECT_FALSE(backend->SetState(&request));
  EXPECT_EQ(mixer.sets.size(), 1u) << "the mute is not written after a failed volume";
  backend->Shutdown();
}

TEST_F(MixerAdapter, LineAndControlFailuresMapToTheInitResults) {
  {
    mixer.lineResult = MMSYSERR_BADDEVICEID;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::NoDevice);
    mixer.lineResult = MMSYSERR_NOERROR;
  }
  EXPECT_EQ(MakeBackend()->Initialize(), InitResult::NoDevice) << "a line without controls";
  mixer.AddControl(11, MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed) << "no mute control";
  mixer.AddControl(12, MIXERCONTROL_CONTROLTYPE_MUTE);
  {
    mixer.controlsResult = MIXERR_INVALLINE;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::NoDevice);
    mixer.controlsResult = MMSYSERR_NOERROR;
  }
  {
    // Only as many controls as the call reports count, even when the line announced more.
    mixer.reportedControls = 1;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed);
    mixer.reportedControls = ~0u;
  }
  {
    mixer.getResult = MMSYSERR_ERROR;
    EXPECT_EQ(MakeBackend()->Initialize(), InitResult::Failed);
    mixer.getResult = MMSYSERR_NOERROR;
  }
  EXPECT_TRUE(timer.periods.empty()) << "no failed backend polls";
  auto backend = MakeBackend();
  EXPECT_EQ(backend->Initialize(), InitResult::Ok);
  backend->Shutdown();
}

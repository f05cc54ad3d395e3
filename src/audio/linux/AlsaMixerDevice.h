#pragma once
// Mixer 0 on ALSA: the simple mixer of the control device "default" (or another name, for
// tests). Destination 0's controls are the mixer's elements in the order it lists them: a
// playback volume becomes a volume control (its raw range as bounds), a playback switch a mute
// control. A switch that is on lets sound through, so the mute value is the switch inverted.
//
// Control ids: element position * 2 for the volume, + 1 for the switch. Elements are found
// again by name and index on every call, so a changed element list never leaves a stale
// pointer. alsa-lib handles are not thread-safe: one mutex serialises every use, which also
// lets reader threads write while the main thread polls.

#include <alsa/asoundlib.h>

#include <mutex>
#include <string>
#include <vector>

#include "audio/IMixerDevice.h"

class AlsaMixerDevice final : public IMixerDevice {
 public:
  explicit AlsaMixerDevice(std::string cardName = "default");
  ~AlsaMixerDevice() override;
  AlsaMixerDevice(const AlsaMixerDevice&) = delete;
  AlsaMixerDevice& operator=(const AlsaMixerDevice&) = delete;

  bool GetDestinationLine(MixerLineInfo* line) override;
  bool GetLineControls(const MixerLineInfo& line, std::vector<MixerControlInfo>* controls) override;
  bool GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) override;
  bool SetControlValue(uint32_t controlId, uint32_t value) override;

 private:
  struct ElementName {
    std::string name;
    unsigned index = 0;
  };
  // mutex_ held. Opens, attaches and loads the mixer on first use.
  bool Open();
  // mutex_ held. The element behind a control id, or null.
  snd_mixer_elem_t* Find(uint32_t controlId, bool* isSwitch);
  // Find, after taking in what other programs changed since the last call. Needs mutex_.
  snd_mixer_elem_t* FindCurrent(uint32_t controlId, bool* isSwitch);
  // mutex_ held. The controls of the current element list, in its order.
  std::vector<MixerControlInfo> ListControls();

  const std::string cardName_;
  std::mutex mutex_;
  snd_mixer_t* mixer_ = nullptr;       // guarded by mutex_
  std::vector<ElementName> elements_;  // guarded by mutex_; position = control id / 2
};

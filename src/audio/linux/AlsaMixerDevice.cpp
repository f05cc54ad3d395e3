#include "audio/linux/AlsaMixerDevice.h"

#include <utility>

namespace {
constexpr uint32_t kMuteIdBit = 1;

struct SelemId {
  snd_mixer_selem_id_t* id = nullptr;
  SelemId() { snd_mixer_selem_id_malloc(&id); }
  ~SelemId() { snd_mixer_selem_id_free(id); }
  SelemId(const SelemId&) = delete;
  SelemId& operator=(const SelemId&) = delete;
};
}  // namespace

AlsaMixerDevice::AlsaMixerDevice(std::string cardName) : cardName_(std::move(cardName)) {}

AlsaMixerDevice::~AlsaMixerDevice() {
  if (mixer_ != nullptr) snd_mixer_close(mixer_);
}

bool AlsaMixerDevice::Open() {
  if (mixer_ != nullptr) return true;
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return false;
  if (snd_mixer_attach(mixer, cardName_.c_str()) < 0 ||
      snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return false;
  }
  mixer_ = mixer;
  return true;
}

std::vector<MixerControlInfo> AlsaMixerDevice::ListControls() {
  std::vector<MixerControlInfo> controls;
  elements_.clear();
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer_); elem != nullptr;
       elem = snd_mixer_elem_next(elem)) {
    if (!snd_mixer_selem_is_active(elem)) continue;
    const bool volume = snd_mixer_selem_has_playback_volume(elem) != 0;
    const bool playbackSwitch = snd_mixer_selem_has_playback_switch(elem) != 0;
    if (!volume && !playbackSwitch) continue;
    const auto position = static_cast<uint32_t>(elements_.size());
    elements_.push_back({snd_mixer_selem_get_name(elem), snd_mixer_selem_get_index(elem)});
    if (volume) {
      long minimum = 0;
      long maximum = 0;
      snd_mixer_selem_get_playback_volume_range(elem, &minimum, &maximum);
      MixerControlInfo control;
      control.controlId = position * 2;
      control.controlType = kMixerControlTypeVolume;
      control.minimum = static_cast<int32_t>(minimum);
      control.maximum = static_cast<int32_t>(maximum);
      controls.push_back(control);
    }
    if (playbackSwitch) {
      MixerControlInfo control;
      control.controlId = position * 2 + kMuteIdBit;
      control.controlType = kMixerControlTypeMute;
      control.minimum = 0;
      control.maximum = 1;
      controls.push_back(control);
    }
  }
  return controls;
}

bool AlsaMixerDevice::GetDestinationLine(MixerLineInfo* line) {
  std::lock_guard lock(mutex_);
  if (!Open()) return false;
  line->lineId = 0;
  line->controlCount = static_cast<uint32_t>(ListControls().size());
  return true;
}

bool AlsaMixerDevice::GetLineControls(const MixerLineInfo& line,
                                      std::vector<MixerControlInfo>* controls) {
  std::lock_guard lock(mutex_);
  if (line.lineId != 0 || !Open()) return false;
  std::vector<MixerControlInfo> all = ListControls();
  if (all.size() > line.controlCount) all.resize(line.controlCount);
  *controls = std::move(all);
  return true;
}

snd_mixer_elem_t* AlsaMixerDevice::Find(uint32_t controlId, bool* isSwitch) {
  const uint32_t position = controlId / 2;
  if (mixer_ == nullptr || position >= elements_.size()) return nullptr;
  SelemId id;
  if (id.id == nullptr) return nullptr;
  snd_mixer_selem_id_set_name(id.id, elements_[position].name.c_str());
  snd_mixer_selem_id_set_index(id.id, elements_[position].index);
  snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer_, id.id);
  if (elem == nullptr) return nullptr;
  *isSwitch = (controlId & kMuteIdBit) != 0;
  const bool present = *isSwitch ? snd_mixer_selem_has_playback_switch(elem) != 0
                                 : snd_mixer_selem_has_playback_volume(elem) != 0;
  return present ? elem : nullptr;
}

snd_mixer_elem_t* AlsaMixerDevice::FindCurrent(uint32_t controlId, bool* isSwitch) {
  if (mixer_ == nullptr) return nullptr;
  // Without taking in pending events, reads see the values cached when the mixer was loaded
  // and writes go to a stale element.
  if (snd_mixer_handle_events(mixer_) < 0) return nullptr;
  return Find(controlId, isSwitch);
}

bool AlsaMixerDevice::GetControlValues(uint32_t controlId, uint32_t channels, uint32_t* values) {
  std::lock_guard lock(mutex_);
  bool isSwitch = false;
  snd_mixer_elem_t* elem = FindCurrent(controlId, &isSwitch);
  if (elem == nullptr) return false;
  // Two channels are front left and front right; a mono element gives its one value twice.
  static constexpr snd_mixer_selem_channel_id_t kChannels[] = {SND_MIXER_SCHN_FRONT_LEFT,
                                                               SND_MIXER_SCHN_FRONT_RIGHT};
  const bool mono = snd_mixer_selem_is_playback_mono(elem) != 0;
  for (uint32_t i = 0; i < channels; ++i) {
    const snd_mixer_selem_channel_id_t channel =
        (mono || i >= 2) ? SND_MIXER_SCHN_MONO : kChannels[i];
    if (isSwitch) {
      int on = 1;
      if (snd_mixer_selem_get_playback_switch(elem, channel, &on) < 0) return false;
      values[i] = on != 0 ? 0 : 1;
    } else {
      long value = 0;
      if (snd_mixer_selem_get_playback_volume(elem, channel, &value) < 0) return false;
      values[i] = static_cast<uint32_t>(static_cast<int32_t>(value));
    }
  }
  return true;
}

bool AlsaMixerDevice::SetControlValue(uint32_t controlId, uint32_t value) {
  std::lock_guard lock(mutex_);
  bool isSwitch = false;
  snd_mixer_elem_t* elem = FindCurrent(controlId, &isSwitch);
  if (elem == nullptr) return false;
  if (isSwitch) return snd_mixer_selem_set_playback_switch_all(elem, value != 0 ? 0 : 1) >= 0;
  return snd_mixer_selem_set_playback_volume_all(elem, static_cast<int32_t>(value)) >= 0;
}

#include "audio/linux/AlsaVolumeControl.h"

#include <utility>

#include "audio/VolumeConversions.h"
#include "base/Log.h"

namespace {
// alsa-lib prints its own lines on stderr for every failed open (about eight when there is no
// card at all); our one message says what matters.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void LogAlsaError(const std::string& what, const std::string& card, int error) {
  LogError("ALSA mixer \"" + card + "\": " + what + ": " + snd_strerror(error));
}
}  // namespace

AlsaVolumeControl::AlsaVolumeControl(IPollTimer& timer, std::string card)
    : PolledVolumeControl(timer), card_(std::move(card)) {}

AlsaVolumeControl::~AlsaVolumeControl() {
  std::lock_guard lock(mixerMutex_);
  Close();
}

InitResult AlsaVolumeControl::Initialize() {
  snd_lib_error_set_handler(&IgnoreAlsaError);
  std::lock_guard lock(mixerMutex_);
  if (const int error = Open(); error < 0) {
    LogAlsaError("cannot open", card_, error);
    return InitResult::NoDevice;
  }
  InitResult result = InitResult::Ok;
  VolumeState first;
  if (!ChooseElements()) {
    result = volume_.name.empty() && mute_.name.empty() ? InitResult::NoDevice : InitResult::Failed;
    LogError("ALSA mixer \"" + card_ + "\" has no playback " +
             (mute_.name.empty() ? "switch" : "volume"));
  } else if (!Read(&first)) {
    result = InitResult::Failed;
  }
  if (result != InitResult::Ok) {
    Close();
    return result;
  }
  outputs_ = std::make_unique<SingleOutput>(CardName());
  StartPolling(first);
  return InitResult::Ok;
}

std::string AlsaVolumeControl::CardName() {
  // Asked of the control handle the mixer opened anyway: opening another could reach a device
  // that waits without a bound.
  snd_hctl_t* hctl = nullptr;
  snd_ctl_card_info_t* info = nullptr;
  std::string name = card_;
  if (snd_mixer_get_hctl(mixer_, card_.c_str(), &hctl) >= 0 &&
      snd_ctl_card_info_malloc(&info) >= 0) {
    if (snd_ctl_card_info(snd_hctl_ctl(hctl), info) >= 0 &&
        *snd_ctl_card_info_get_name(info) != '\0') {
      name = snd_ctl_card_info_get_name(info);
    }
    snd_ctl_card_info_free(info);
  }
  return name;
}

int AlsaVolumeControl::Open() {
  snd_mixer_t* mixer = nullptr;
  int error = snd_mixer_open(&mixer, 0);
  if (error < 0) return error;
  if ((error = snd_mixer_attach(mixer, card_.c_str())) < 0 ||
      (error = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 ||
      (error = snd_mixer_load(mixer)) < 0) {
    snd_mixer_close(mixer);
    return error;
  }
  mixer_ = mixer;
  // After a reopening the card may be another one with the same element names.
  if (snd_mixer_elem_t* volume = volume_.name.empty() ? nullptr : Find(volume_)) {
    snd_mixer_selem_get_playback_volume_range(volume, &minimum_, &maximum_);
  }
  return 0;
}

void AlsaVolumeControl::Close() {
  if (mixer_ != nullptr) snd_mixer_close(mixer_);
  mixer_ = nullptr;
}

bool AlsaVolumeControl::ChooseElements() {
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer_); elem != nullptr;
       elem = snd_mixer_elem_next(elem)) {
    if (!snd_mixer_selem_is_active(elem)) continue;
    const Element element{snd_mixer_selem_get_name(elem), snd_mixer_selem_get_index(elem)};
    if (volume_.name.empty() && snd_mixer_selem_has_playback_volume(elem)) {
      volume_ = element;
      snd_mixer_selem_get_playback_volume_range(elem, &minimum_, &maximum_);
    }
    if (mute_.name.empty() && snd_mixer_selem_has_playback_switch(elem)) mute_ = element;
  }
  return !volume_.name.empty() && !mute_.name.empty();
}

snd_mixer_elem_t* AlsaVolumeControl::Find(const Element& element) {
  // Found again by name on every use: a changed element list never leaves a stale pointer.
  snd_mixer_selem_id_t* id = nullptr;
  snd_mixer_selem_id_alloca(&id);
  snd_mixer_selem_id_set_name(id, element.name.c_str());
  snd_mixer_selem_id_set_index(id, element.index);
  return snd_mixer_find_selem(mixer_, id);
}

bool AlsaVolumeControl::Read(VolumeState* state) {
  if (mixer_ == nullptr && Open() < 0) return false;
  // Takes in what other programs changed since the last call; without it the values read are
  // those cached when the mixer was loaded.
  const int error = snd_mixer_handle_events(mixer_);
  if (error < 0) {
    // Said once per outage, not on every tick that tries to open the mixer again.
    if (mixerWorks_) LogAlsaError("lost", card_, error);
    mixerWorks_ = false;
    Close();
    return false;
  }
  mixerWorks_ = true;
  snd_mixer_elem_t* volume = Find(volume_);
  snd_mixer_elem_t* mute = Find(mute_);
  if (volume == nullptr || mute == nullptr) return false;
  // Front left and front right; a mono element gives its one value twice.
  const bool mono = snd_mixer_selem_is_playback_mono(volume) != 0;
  long left = 0;
  long right = 0;
  int on = 1;
  if (snd_mixer_selem_get_playback_volume(
          volume, mono ? SND_MIXER_SCHN_MONO : SND_MIXER_SCHN_FRONT_LEFT, &left) < 0 ||
      snd_mixer_selem_get_playback_volume(
          volume, mono ? SND_MIXER_SCHN_MONO : SND_MIXER_SCHN_FRONT_RIGHT, &right) < 0 ||
      snd_mixer_selem_get_playback_switch(
          mute,
          snd_mixer_selem_is_playback_mono(mute) ? SND_MIXER_SCHN_MONO : SND_MIXER_SCHN_FRONT_LEFT,
          &on) < 0) {
    return false;
  }
  state->volume = RawToPercent(static_cast<uint32_t>(left), static_cast<uint32_t>(right),
                               static_cast<int32_t>(minimum_), static_cast<int32_t>(maximum_));
  state->muted = on != 0 ? 0 : 1;
  return true;
}

bool AlsaVolumeControl::Shutdown() {
  StopPolling();
  std::lock_guard lock(mixerMutex_);
  Close();
  return true;
}

bool AlsaVolumeControl::SetState(const VolumeState* state) {
  std::lock_guard lock(mixerMutex_);
  if (mixer_ == nullptr || snd_mixer_handle_events(mixer_) < 0) return false;
  snd_mixer_elem_t* volume = Find(volume_);
  const long raw = static_cast<int32_t>(
      PercentToRaw(state->volume, static_cast<int32_t>(minimum_), static_cast<int32_t>(maximum_)));
  snd_mixer_elem_t* mute = Find(mute_);
  if (volume == nullptr || mute == nullptr) return false;
  int error = snd_mixer_selem_set_playback_volume_all(volume, raw);
  if (error >= 0) error = snd_mixer_selem_set_playback_switch_all(mute, state->muted != 0 ? 0 : 1);
  if (error < 0) LogAlsaError("cannot set", card_, error);
  return error >= 0;
}

bool AlsaVolumeControl::ReadDevice(VolumeState* state) {
  std::lock_guard lock(mixerMutex_);
  return Read(state);
}

#pragma once
// The volume control on ALSA's simple mixer, for a machine without a sound server: the first
// element with a playback volume (the mixer lists Master first) gives the volume and its raw
// range, the first with a playback switch the mute (a switch that is on lets sound through).
// ALSA tells nothing by itself here, so the mixer is polled (PolledVolumeControl).
//
// Threads: Initialize, Shutdown and the poll timer's tick run on the main thread; SetState on
// reader threads, several at once. alsa-lib handles are not thread-safe, so one mutex
// serialises every use of the mixer; it is never held with another lock of ours.

#include <alsa/asoundlib.h>

#include <memory>
#include <mutex>
#include <string>

#include "audio/OutputDevices.h"
#include "audio/PolledVolumeControl.h"

class AlsaVolumeControl final : public PolledVolumeControl {
 public:
  // `card`: the control device to open ("default", or another for tests). Installs the new
  // object as the poll target. `timer` must outlive the object.
  explicit AlsaVolumeControl(IPollTimer& timer, std::string card = "default");
  // Closes the mixer.
  ~AlsaVolumeControl() override;

  // NoDevice: the mixer cannot be opened or has no playback volume or switch at all. Failed:
  // it lacks one of the two, or the first reading failed.
  InitResult Initialize() override;
  bool Shutdown() override;
  // The volume first; a failed volume write stops before the mute.
  bool SetState(const VolumeState* state) override;
  // The one mixer, named as its card calls itself, with no choice.
  IOutputDevices* OutputDevices() override { return outputs_.get(); }

 private:
  // A reading that failed leaves the mixer closed, so the next tick opens it again (a card
  // that went away may be back).
  bool ReadDevice(VolumeState* state) override;

  struct Element {
    std::string name;
    unsigned index = 0;
  };
  // The rest runs with mixerMutex_ held. Open returns 0 or ALSA's negative error code.
  int Open();
  void Close();
  bool ChooseElements();
  snd_mixer_elem_t* Find(const Element& element);
  bool Read(VolumeState* state);
  std::string CardName();

  const std::string card_;

  std::mutex mixerMutex_;
  snd_mixer_t* mixer_ = nullptr;  // guarded by mixerMutex_
  bool mixerWorks_ = true;        // guarded by mixerMutex_
  // Chosen by Initialize; the range is read again whenever the mixer is opened.
  Element volume_;
  Element mute_;
  long minimum_ = 0;  // guarded by mixerMutex_
  long maximum_ = 0;  // guarded by mixerMutex_
  std::unique_ptr<SingleOutput> outputs_;  // set by Initialize
};

#pragma once
// The volume control on ALSA's simple mixer, for a machine without a sound server: the first
// element with a playback volume (the mixer lists Master first) gives the volume and its raw
// range, the first with a playback switch the mute (a switch that is on lets sound through).
// ALSA tells nothing by itself here, so the main thread polls: 20 ms after a change, doubling
// while nothing changes, at most 250 ms.
//
// Threads: Initialize, Poll (the poll timer's tick), SetChangeCallback, Shutdown and the change
// callback run on the main thread; SetState on reader threads, several at once. alsa-lib
// handles are not thread-safe, so one mutex serialises every use of the mixer; it is never held
// with another lock of ours.

#include <alsa/asoundlib.h>

#include <atomic>
#include <mutex>
#include <string>

#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"
#include "audio/PolledState.h"

class AlsaVolumeControl final : public IVolumeControl {
 public:
  // `card`: the control device to open ("default", or another for tests). Installs the new
  // object as the poll target. `timer` must outlive the object.
  explicit AlsaVolumeControl(IPollTimer& timer, std::string card = "default");
  // Clears the poll target if it is this object, and closes the mixer.
  ~AlsaVolumeControl() override;
  AlsaVolumeControl(const AlsaVolumeControl&) = delete;
  AlsaVolumeControl& operator=(const AlsaVolumeControl&) = delete;

  // NoDevice: the mixer cannot be opened or has no playback volume or switch at all. Failed:
  // it lacks one of the two, or the first reading failed.
  InitResult Initialize() override;
  bool Shutdown() override;
  bool GetState(VolumeState* state) override;
  // The volume first; a failed volume write stops before the mute.
  bool SetState(const VolumeState* state) override;
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override;

  // The poll timer's procedure: polls the poll target, if there is one. Main thread.
  static void PollTimerProc();
  // One tick of change detection. A failed reading is no news: the cache stays, the period
  // backs off, and the next tick opens the mixer again (a card that went away may be back).
  void Poll();

 private:
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

  IPollTimer& timer_;
  const std::string card_;

  std::mutex mixerMutex_;
  snd_mixer_t* mixer_ = nullptr;  // guarded by mixerMutex_
  bool mixerWorks_ = true;        // guarded by mixerMutex_
  // Chosen by Initialize; the range is read again whenever the mixer is opened.
  Element volume_;
  Element mute_;
  long minimum_ = 0;  // guarded by mixerMutex_
  long maximum_ = 0;  // guarded by mixerMutex_

  PolledState polled_;
  bool stopped_ = false;  // main thread only

  static std::atomic<AlsaVolumeControl*> pollTarget_;
};

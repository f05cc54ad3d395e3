// The sound server's backend when one answers for this user, else ALSA's mixer.
#include "audio/VolumeControlFactory.h"

#include <memory>

#include "audio/linux/AlsaVolumeControl.h"
#include "audio/linux/PulseVolumeControl.h"

namespace {
// Written on the main thread only, before any other thread of ours exists and after they all
// ended.
IVolumeControl* g_currentVolumeControl = nullptr;

const char kErrorCaption[] = "Quavix Server Error";

const char* TextFor(InitResult result) {
  switch (result) {
    case InitResult::NoInterface:
      return "Could not find volume control interface.";
    case InitResult::NoDevice:
      return "Could not locate audio device.";
    default:
      return "Initializing the audio control failed.";
  }
}
}  // namespace

bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter) {
  std::unique_ptr<IVolumeControl> control = std::make_unique<PulseVolumeControl>();
  InitResult result = control->Initialize();
  // No sound server answered: the bare mixer is the machine's own.
  if (result == InitResult::NoInterface) {
    control = std::make_unique<AlsaVolumeControl>(pollTimer);
    result = control->Initialize();
  }
  if (result != InitResult::Ok) {
    reporter.ShowError(TextFor(result), kErrorCaption);
    return false;  // not initialised: destroyed without Shutdown
  }
  g_currentVolumeControl = control.release();
  return true;
}

IVolumeControl* CurrentVolumeControl() {
  return g_currentVolumeControl;
}

void DestroyCurrentVolumeControl() {
  IVolumeControl* control = g_currentVolumeControl;
  g_currentVolumeControl = nullptr;
  delete control;
}

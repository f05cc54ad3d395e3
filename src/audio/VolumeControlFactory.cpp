// What both platforms' factories share: the one current volume control and the texts that
// tell the user why none could be had.
#include "audio/VolumeControlFactory.h"

namespace {
// Written on the main thread only, before any other thread of ours exists and after they all
// ended.
IVolumeControl* g_currentVolumeControl = nullptr;

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

bool InstallVolumeControl(std::unique_ptr<IVolumeControl> control, InitResult result,
                          IErrorReporter& reporter) {
  if (result != InitResult::Ok) {
    reporter.ShowError(TextFor(result), "Quavix Server Error");
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

// What both platforms' factories share: the one current volume control and telling the user
// why none could be had.
#include "audio/VolumeControlFactory.h"

#include "base/Texts.h"

namespace {
// Written on the main thread only, before any other thread of ours exists and after they all
// ended.
IVolumeControl* g_currentVolumeControl = nullptr;

const char* TextFor(InitResult result) {
  switch (result) {
    case InitResult::NoInterface:
      return kTextNoInterface;
    case InitResult::NoDevice:
      return kTextNoDevice;
    default:
      return kTextInitFailed;
  }
}
}  // namespace

bool InstallVolumeControl(std::unique_ptr<IVolumeControl> control, InitResult result,
                          IErrorReporter& reporter) {
  if (result != InitResult::Ok) {
    reporter.ShowError(TextFor(result), kTextErrorTitle);
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

#include "audio/VolumeControlFactory.h"

#include "audio/win32/EndpointVolumeControl.h"
#include "audio/win32/WaveOutVolumeControl.h"
#include "audio/win32/Win32AudioPlatform.h"

namespace {
// The one current volume control of the process. Written on the main thread only, before any
// other thread of ours exists and after they all ended.
IVolumeControl* g_currentVolumeControl = nullptr;

constexpr int kFirstEndpointMajorVersion = 6;

const char kErrorCaption[] = "Quavix Server Error";
const char kNoDeviceText[] = "Could not locate audio device.";
const char kFailedText[] = "Initializing the audio control failed.";
const char kNoInterfaceText[] = "Could not find volume control interface.";

const char* TextFor(InitResult result) {
  switch (result) {
    case InitResult::NoInterface:
      return kNoInterfaceText;
    case InitResult::NoDevice:
      return kNoDeviceText;
    default:
      return kFailedText;
  }
}
}  // namespace

bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter) {
  Win32AudioPlatform platform;
  return CreateVolumeControlOn(platform, pollTimer, reporter);
}

bool CreateVolumeControlOn(IAudioPlatform& platform, IPollTimer& pollTimer,
                           IErrorReporter& reporter) {
  IVolumeControl* control = nullptr;
  if (platform.OsMajorVersion() >= kFirstEndpointMajorVersion) {
    control = new EndpointVolumeControl(platform.CreateEndpointDevice());
  } else {
    control = new WaveOutVolumeControl(platform.CreateMixerDevice(), pollTimer);
  }
  g_currentVolumeControl = control;

  const InitResult result = control->Initialize();
  if (result == InitResult::Ok) return true;

  reporter.ShowError(TextFor(result), kErrorCaption);
  // Not initialised: destroyed without Shutdown.
  DestroyCurrentVolumeControl();
  return false;
}

IVolumeControl* CurrentVolumeControl() {
  return g_currentVolumeControl;
}

void DestroyCurrentVolumeControl() {
  IVolumeControl* control = g_currentVolumeControl;
  g_currentVolumeControl = nullptr;
  delete control;
}

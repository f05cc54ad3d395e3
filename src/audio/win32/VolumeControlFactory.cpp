#include "audio/VolumeControlFactory.h"

#include "audio/win32/EndpointVolumeControl.h"
#include "audio/win32/WaveOutVolumeControl.h"
#include "audio/win32/Win32AudioPlatform.h"

namespace {
constexpr int kFirstEndpointMajorVersion = 6;
}  // namespace

bool CreateVolumeControl(IPollTimer& pollTimer, IErrorReporter& reporter) {
  Win32AudioPlatform platform;
  return CreateVolumeControlOn(platform, pollTimer, reporter);
}

bool CreateVolumeControlOn(IAudioPlatform& platform, IPollTimer& pollTimer,
                           IErrorReporter& reporter) {
  std::unique_ptr<IVolumeControl> control;
  if (platform.OsMajorVersion() >= kFirstEndpointMajorVersion) {
    control = std::make_unique<EndpointVolumeControl>(platform.CreateEndpointDevice(),
                                                      platform.CreateOutputDevices());
  } else {
    control = std::make_unique<WaveOutVolumeControl>(platform.CreateMixerDevice(), pollTimer);
  }
  const InitResult result = control->Initialize();
  return InstallVolumeControl(std::move(control), result, reporter);
}

#include "audio/linux/LinuxAudioPlatform.h"

#include "audio/linux/AlsaMixerDevice.h"
#include "audio/linux/PulseConnection.h"
#include "audio/linux/PulseEndpointDevice.h"

int LinuxAudioPlatform::OsMajorVersion() {
  PulseConnection probe;
  return probe.Connect("Quavix Server probe") ? kSoundServerGeneration : kBareAlsaGeneration;
}

std::unique_ptr<IEndpointDevice> LinuxAudioPlatform::CreateEndpointDevice() {
  return std::make_unique<PulseEndpointDevice>();
}

std::unique_ptr<IMixerDevice> LinuxAudioPlatform::CreateMixerDevice() {
  return std::make_unique<AlsaMixerDevice>(mixerCardName_);
}

std::unique_ptr<IAudioPlatform> CreateAudioPlatform() {
  return std::make_unique<LinuxAudioPlatform>();
}

#pragma once
// The audio platform on Linux. There is no Windows version number here, so the platform
// reports the generation of the audio stack instead: 6 where a sound server answers on the
// PulseAudio protocol for this user (endpoint backend), 5 on bare ALSA (mixer backend).

#include <string>

#include "audio/VolumeControlFactory.h"

class LinuxAudioPlatform final : public IAudioPlatform {
 public:
  static constexpr int kSoundServerGeneration = 6;
  static constexpr int kBareAlsaGeneration = 5;

  explicit LinuxAudioPlatform(std::string mixerCardName = "default")
      : mixerCardName_(std::move(mixerCardName)) {}

  int OsMajorVersion() override;
  std::unique_ptr<IEndpointDevice> CreateEndpointDevice() override;
  std::unique_ptr<IMixerDevice> CreateMixerDevice() override;

 private:
  std::string mixerCardName_;
};

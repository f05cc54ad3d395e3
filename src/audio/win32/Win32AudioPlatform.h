#pragma once
// The audio platform on Windows: the OS major version picks Core Audio (6 and later) or the
// mixer functions.

#include <windows.h>

#include "audio/VolumeControlFactory.h"

// The version query (GetVersionExW in the program; a test double in tests).
using VersionQuery = BOOL(WINAPI*)(LPOSVERSIONINFOW info);
VersionQuery SystemVersionQuery();

class Win32AudioPlatform final : public IAudioPlatform {
 public:
  explicit Win32AudioPlatform(VersionQuery query = SystemVersionQuery()) : query_(query) {}

  // A zeroed, sized record; a failed query leaves the major version 0 (the mixer backend).
  int OsMajorVersion() override;
  std::unique_ptr<IEndpointDevice> CreateEndpointDevice() override;
  std::unique_ptr<IMixerDevice> CreateMixerDevice() override;

 private:
  VersionQuery query_;
};

#pragma once
// What the backend choice needs from Windows: the OS major version picks Core Audio (6 and
// later) or the mixer functions, and the adapter of each.

#include <windows.h>

#include <memory>

#include "audio/IErrorReporter.h"
#include "audio/IOutputDevices.h"
#include "audio/IPollTimer.h"
#include "audio/win32/IEndpointDevice.h"
#include "audio/win32/IMixerDevice.h"

class IAudioPlatform {
 public:
  virtual ~IAudioPlatform() = default;
  // The OS major version; 0 when the query failed. 6 or more selects the endpoint backend.
  virtual int OsMajorVersion() = 0;
  virtual std::unique_ptr<IEndpointDevice> CreateEndpointDevice() = 0;
  virtual std::unique_ptr<IMixerDevice> CreateMixerDevice() = 0;
  // The playback devices beside the endpoint backend's volume.
  virtual std::unique_ptr<IOutputDevices> CreateOutputDevices() = 0;
};

// CreateVolumeControl on a given platform (the system's in the program, a double in tests).
bool CreateVolumeControlOn(IAudioPlatform& platform, IPollTimer& pollTimer,
                           IErrorReporter& reporter);

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
  std::unique_ptr<IOutputDevices> CreateOutputDevices() override;

 private:
  VersionQuery query_;
};

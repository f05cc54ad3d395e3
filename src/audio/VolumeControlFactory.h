#pragma once
// Picks the one backend of the run by the OS version, installs it as the current volume
// control and initialises it.

#include <memory>

#include "audio/IEndpointDevice.h"
#include "audio/IErrorReporter.h"
#include "audio/IMixerDevice.h"
#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"

// What the factory needs from the platform.
class IAudioPlatform {
 public:
  virtual ~IAudioPlatform() = default;
  // The OS major version; 0 when the query failed. 6 or more selects the endpoint backend.
  virtual int OsMajorVersion() = 0;
  virtual std::unique_ptr<IEndpointDevice> CreateEndpointDevice() = 0;
  virtual std::unique_ptr<IMixerDevice> CreateMixerDevice() = 0;
};

// The platform's adapter (linux/ or win32/).
std::unique_ptr<IAudioPlatform> CreateAudioPlatform();

// Main thread, once, before any other thread of ours exists. True: a backend is initialised
// and is the current volume control. False: the user has been told why (modal), the backend
// was destroyed without Shutdown and the current volume control is null.
// `pollTimer` and `reporter` must outlive the backend.
bool CreateVolumeControl(IAudioPlatform& platform, IPollTimer& pollTimer, IErrorReporter& reporter);

// The process-wide current volume control; null before CreateVolumeControl and after failure.
IVolumeControl* CurrentVolumeControl();
// Destroys the current volume control through its virtual destructor (Shutdown first is the
// caller's job) and clears the pointer.
void DestroyCurrentVolumeControl();

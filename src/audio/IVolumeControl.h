#pragma once
// The one view the rest of the program has of the master output volume and mute switch.

#include <cstdint>

#include "audio/IOutputDevices.h"
#include "base/VolumeState.h"

// Every backend reports muted as 0 or 1 and volume within 0..100; before the first reading a
// backend holds the default, unmuted at 100.

// Result of IVolumeControl::Initialize. Values other than these four are treated as Failed.
enum class InitResult : int32_t { Ok = 0, NoInterface = 1, NoDevice = 2, Failed = 3 };

// Plain function called after the backend took a new reading. `state` points at the backend's
// cached state and is valid only during the call. Runs with the backend's callback mutex held.
using VolumeChangeCallback = void (*)(int32_t userData, const VolumeState* state);

class IVolumeControl {
 public:
  // Releases nothing that Initialize acquired: Shutdown must come first when Initialize was Ok.
  virtual ~IVolumeControl() = default;

  // Main thread, once, before anything else. Anything but Ok leaves the object fit only for
  // destruction.
  virtual InitResult Initialize() = 0;

  // Main thread, once, after the callback was cleared and the server stopped. False when the
  // platform reported a problem with the release; nobody acts on it.
  virtual bool Shutdown() = 0;

  // Any thread. Copies the cached state under the state mutex; never touches the device.
  virtual bool GetState(VolumeState* state) = 0;

  // Any thread, several at once, holding no lock of ours. Writes to the device. The sound-server
  // backend on Linux caches an accepted request and reports it at once, on the calling thread;
  // the server's own reading follows and corrects it if it differs. Other backends leave the
  // cache alone; the change comes back through change detection.
  virtual bool SetState(const VolumeState* state) = 0;

  // Main thread. Waits for a callback running on another thread; once a null callback was set,
  // the old one is never called again.
  virtual void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) = 0;

  // Any thread, between Initialize and Shutdown. The playback devices this control knows, which
  // live as long as the control; null when it offers no list.
  virtual IOutputDevices* OutputDevices() { return nullptr; }
};

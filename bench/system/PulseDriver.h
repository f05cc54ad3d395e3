#pragma once
// Changes the default sink's volume and mute on the sound server, as a user's mixer would, over
// a sound-server connection of its own (the server's own backend class, in a second instance).

#include "audio/linux/PulseVolumeControl.h"

class PulseDriver {
 public:
  PulseDriver() = default;
  ~PulseDriver();
  PulseDriver(const PulseDriver&) = delete;
  PulseDriver& operator=(const PulseDriver&) = delete;

  bool Connect();
  // Sends the change and returns at once (nothing waits for the server's answer), so the
  // caller can start timing the change's way to the clients right before it.
  bool SetDefaultSink(int percent, bool muted);
  // Sends the change and waits (bounded) until the sound server shows it applied (pactl).
  bool SetDefaultSinkAndWait(int percent, bool muted);

 private:
  PulseVolumeControl connection_;
  bool connected_ = false;
};

#pragma once
// Changes the default sink's volume and mute on the sound server, as a user's mixer would,
// over a libpulse connection of its own. One thread.

#include "audio/linux/PulseConnection.h"

class PulseDriver {
 public:
  bool Connect();
  // Sends the change and returns at once (nothing waits for the server's answer), so the
  // caller can start timing the change's way to the clients right before it.
  bool SetDefaultSink(int percent, bool muted);
  // Sends the change and waits until the sound server applied it.
  bool SetDefaultSinkAndWait(int percent, bool muted);

 private:
  bool Send(int percent, bool muted, bool wait);
  bool ReadChannels();

  PulseConnection connection_;
  int channels_ = 0;
};

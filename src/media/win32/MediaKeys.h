#pragma once
// Media control on Windows: the media keys, pressed through the system's keyboard input, which
// every player obeys (the one in front, or the one the system routes media keys to). Windows
// says nothing here of what is playing: the status is always "controllable", without a title.
//
// Threads: Send from any thread, several at once; the rest on the main thread. No lock.

#include <windows.h>

#include "media/IMediaControl.h"

// The system's SendInput in the program; a recording double in tests.
using SendInputFunction = UINT(WINAPI*)(UINT count, LPINPUT inputs, int size);

class MediaKeys final : public IMediaControl {
 public:
  explicit MediaKeys(SendInputFunction sendInput = &SendInput) : sendInput_(sendInput) {}

  bool Start() override { return true; }
  void Stop() override {}
  // Presses and releases the command's key in one call. False when the system took fewer than
  // both (input blocked by another desktop, say): logged with the system's reason.
  bool Send(MediaCommand command) override;
  MediaStatus Status() override { return {true, "", "", false}; }
  // The status never changes: the callback is never called.
  void SetStatusCallback(MediaChangedCallback) override {}

 private:
  SendInputFunction sendInput_;
};

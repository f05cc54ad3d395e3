#pragma once
// The relay's retry timer: a periodic 500 ms timer on the main thread that runs BroadcastState.

class IRetryTimer {
 public:
  virtual ~IRetryTimer() = default;
  // Any thread, holding any of our locks. Arms the timer, or restarts its period when it is
  // already armed. The tick itself always runs on the main thread. Never blocks.
  virtual void Arm() = 0;
};

#pragma once
// The relay's retry timer: runs a broadcast on the main thread once the earliest hold-off of a
// deferred client has ended. It runs only while some client is held off, so an idle server
// costs no wake-ups.

#include <cstdint>

class IRetryTimer {
 public:
  virtual ~IRetryTimer() = default;
  // Any thread, holding any of our locks. The tick runs once, `delayMs` from now, on the main
  // thread; a tick already due sooner stays as it is (an early tick only defers again). Never
  // blocks.
  virtual void Arm(uint32_t delayMs) = 0;
};

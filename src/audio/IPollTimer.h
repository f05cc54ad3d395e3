#pragma once
// The mixer backend's poll timer: a main-thread timer whose procedure is our own, not the
// window procedure. Setting it again (also from its own tick) replaces its period.

#include <cstdint>

using PollTimerProcedure = void (*)();

class IPollTimer {
 public:
  virtual ~IPollTimer() = default;
  // Main thread only.
  virtual void Set(uint32_t periodMs, PollTimerProcedure procedure) = 0;
  virtual void Kill() = 0;
};

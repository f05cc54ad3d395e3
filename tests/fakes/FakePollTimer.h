#pragma once
// The poll timer, driven by hand: the test sees each period set and fires the tick itself.

#include <vector>

#include "audio/IPollTimer.h"

class FakePollTimer final : public IPollTimer {
 public:
  void Set(uint32_t periodMs, PollTimerProcedure procedure) override {
    periods.push_back(periodMs);
    procedure_ = procedure;
    running = true;
  }
  void Kill() override {
    ++kills;
    running = false;
  }
  // Runs the procedure as the timer's tick would (also after Kill, as a queued tick can).
  void Tick() {
    if (procedure_ != nullptr) procedure_();
  }

  std::vector<uint32_t> periods;
  bool running = false;
  int kills = 0;

 private:
  PollTimerProcedure procedure_ = nullptr;
};

#pragma once
// The relay's retry timer and the mixer's poll timer, as timers of the hidden window.

#include "app/IMessageWindow.h"
#include "app/ShellIds.h"
#include "audio/IPollTimer.h"
#include "net/IRetryTimer.h"

class WindowRetryTimer final : public IRetryTimer {
 public:
  explicit WindowRetryTimer(IMessageWindow& window) : window_(window) {}
  void Arm() override { window_.SetTimer(TIMER_BROADCAST_RETRY, kRetryPeriodMs); }

 private:
  IMessageWindow& window_;
};

class WindowPollTimer final : public IPollTimer {
 public:
  explicit WindowPollTimer(IMessageWindow& window) : window_(window) {}
  void Set(uint32_t periodMs, PollTimerProcedure procedure) override {
    window_.SetTimerProcedure(TIMER_MIXER_POLL, periodMs, procedure);
  }
  void Kill() override { window_.KillTimer(TIMER_MIXER_POLL); }

 private:
  IMessageWindow& window_;
};

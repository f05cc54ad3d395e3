#pragma once
// The relay's retry timer and the mixer's poll timer, as timers of the main loop.

#include <functional>

#include "app/IMainLoop.h"
#include "app/ShellNames.h"
#include "audio/IPollTimer.h"
#include "net/IRetryTimer.h"

// Each tick broadcasts again and keeps the 500 ms period going, restarting it when a client
// was deferred once more; nothing stops it before the loop ends.
class LoopRetryTimer final : public IRetryTimer {
 public:
  // `broadcast` runs the broadcast and says whether it deferred a client.
  LoopRetryTimer(IMainLoop& loop, std::function<bool()> broadcast)
      : loop_(loop), broadcast_(std::move(broadcast)) {}
  void Arm() override {
    loop_.StartTimer(ShellTimer::BroadcastRetry, kRetryPeriodMs, [this] { Tick(); });
  }
  void Tick() {
    if (broadcast_()) Arm();
  }

 private:
  IMainLoop& loop_;
  std::function<bool()> broadcast_;
};

class LoopPollTimer final : public IPollTimer {
 public:
  explicit LoopPollTimer(IMainLoop& loop) : loop_(loop) {}
  void Set(uint32_t periodMs, PollTimerProcedure procedure) override {
    loop_.StartTimer(ShellTimer::MixerPoll, periodMs, procedure);
  }
  void Kill() override { loop_.StopTimer(ShellTimer::MixerPoll); }

 private:
  IMainLoop& loop_;
};

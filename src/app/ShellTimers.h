#pragma once
// The relay's retry timer and the mixer's poll timer, as timers of the main loop.

#include <cstdint>
#include <functional>
#include <mutex>

#include "app/IMainLoop.h"
#include "app/ShellNames.h"
#include "audio/IPollTimer.h"
#include "net/IClock.h"
#include "net/IRetryTimer.h"

// A one-shot timer of the main loop, armed only while some client is held off: each tick is
// timed for the end of the earliest hold-off, and a tick that defers a client again arms the
// next one. Idle, it costs no wake-ups.
class LoopRetryTimer final : public IRetryTimer {
 public:
  // `tick` runs the broadcast, which arms the timer again when it deferred a client.
  LoopRetryTimer(IMainLoop& loop, IClock& clock, std::function<void()> tick)
      : loop_(loop), clock_(clock), tick_(std::move(tick)) {}
  void Arm(uint32_t delayMs) override {
    {
      std::lock_guard lock(mutex_);
      const uint32_t now = clock_.NowMs();
      // Differences are taken unsigned: the count wraps.
      if (armed_ && static_cast<int32_t>(dueMs_ - now) <= static_cast<int32_t>(delayMs)) return;
      armed_ = true;
      dueMs_ = now + delayMs;
    }
    loop_.StartTimer(ShellTimer::BroadcastRetry, delayMs, [this] { Tick(); });
  }
  // Main thread, from the loop.
  void Tick() {
    loop_.StopTimer(ShellTimer::BroadcastRetry);
    {
      std::lock_guard lock(mutex_);
      armed_ = false;
    }
    tick_();
  }

 private:
  IMainLoop& loop_;
  IClock& clock_;
  std::function<void()> tick_;
  std::mutex mutex_;  // guards the two below; a leaf
  bool armed_ = false;
  uint32_t dueMs_ = 0;
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

#pragma once
#include <atomic>
#include <cstdint>

#include "net/IRetryTimer.h"

// Counts how often the relay armed the retry and keeps the last delay; the test runs the tick
// itself.
class FakeRetryTimer final : public IRetryTimer {
 public:
  void Arm(uint32_t delayMs) override {
    lastDelayMs_.store(delayMs);
    arms_.fetch_add(1);
  }
  int Arms() const { return arms_.load(); }
  uint32_t LastDelayMs() const { return lastDelayMs_.load(); }

 private:
  std::atomic<int> arms_{0};
  std::atomic<uint32_t> lastDelayMs_{0};
};

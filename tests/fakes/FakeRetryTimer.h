#pragma once
#include <atomic>

#include "net/IRetryTimer.h"

// Counts how often the relay armed the retry; the test runs the tick itself.
class FakeRetryTimer final : public IRetryTimer {
 public:
  void Arm() override { arms_.fetch_add(1); }
  int Arms() const { return arms_.load(); }

 private:
  std::atomic<int> arms_{0};
};

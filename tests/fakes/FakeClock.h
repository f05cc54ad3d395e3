#pragma once
#include <atomic>

#include "net/IClock.h"

// A clock the test moves by hand, so hold-off rules are tested without sleeping.
class FakeClock final : public IClock {
 public:
  explicit FakeClock(uint32_t start = 100000) : now_(start) {}
  uint32_t NowMs() override { return now_.load(); }
  void Set(uint32_t ms) { now_.store(ms); }
  void Advance(uint32_t ms) { now_.fetch_add(ms); }

 private:
  std::atomic<uint32_t> now_;
};

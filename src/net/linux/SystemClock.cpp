#include <time.h>

#include "net/IClock.h"

namespace {

class MonotonicClock final : public IClock {
 public:
  uint32_t NowMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Truncation to 32 bits is the point: the count wraps like the one the protocol was made for.
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
};

}  // namespace

IClock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

#pragma once
// The 32-bit millisecond count the hold-off is measured with. It wraps every ~49.7 days, so
// differences are always taken unsigned.

#include <cstdint>

class IClock {
 public:
  virtual ~IClock() = default;
  // Any thread. Monotonic; wraps at 2^32.
  virtual uint32_t NowMs() = 0;
};

// The platform's clock (a monotonic source on every platform).
IClock& SystemClock();

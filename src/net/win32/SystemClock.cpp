#include <windows.h>
#include <mmsystem.h>

#include "net/IClock.h"

namespace {

// The multimedia timer's count: milliseconds since boot, 32 bits, wrapping. The default
// resolution is coarse (up to ~15 ms) but the only rule measured with it is a 500 ms hold-off.
class MultimediaClock final : public IClock {
 public:
  uint32_t NowMs() override { return timeGetTime(); }
};

}  // namespace

IClock& SystemClock() {
  static MultimediaClock clock;
  return clock;
}

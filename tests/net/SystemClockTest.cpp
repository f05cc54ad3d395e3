#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/IClock.h"

TEST(SystemClock, AdvancesInMilliseconds) {
  const uint32_t before = SystemClock().NowMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint32_t elapsed = SystemClock().NowMs() - before;  // unsigned, survives a wrap
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

#pragma once
// Bounded waits for conditions that another thread or process makes true.

#include <chrono>
#include <thread>

// Polls `condition` until it holds or the timeout passes; whether it held.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

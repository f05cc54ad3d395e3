#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "net/server/SendPool.h"

namespace {

// Every index below `count` visited exactly once.
void ExpectEachOnce(SendPool& pool, size_t count) {
  std::vector<std::atomic<int>> visits(count);
  pool.ForEachIndex(count, [&](size_t i) { visits[i].fetch_add(1); });
  for (size_t i = 0; i < count; ++i)
    ASSERT_EQ(visits[i].load(), 1) << "index " << i << " of " << count;
}

TEST(SendPool, VisitsEveryIndexOnceWhateverTheSizeAndHelpers) {
  for (size_t helpers : {0u, 1u, 3u}) {
    SendPool pool(helpers);
    EXPECT_EQ(pool.Helpers(), helpers);
    for (size_t count : {0u, 1u, 31u, 33u, 255u, 511u, 512u, 1000u, 10007u}) {
      SCOPED_TRACE(testing::Message() << helpers << " helpers, " << count << " items");
      ExpectEachOnce(pool, count);
    }
  }
}

// Passes asked for at once by several threads (the audio thread and the main thread's retry
// timer) each get exactly their own visits.
TEST(SendPool, PassesFromSeveralThreadsEachSeeTheirOwnVisits) {
  SendPool pool(3);
  std::vector<std::thread> callers;
  for (size_t c = 0; c < 4; ++c) {
    callers.emplace_back([&pool, c] {
      for (size_t pass = 0; pass < 50; ++pass) {
        const size_t count = 1000 + c * 100 + pass;
        std::atomic<size_t> seen{0};
        pool.ForEachIndex(count, [&](size_t i) {
          EXPECT_LT(i, count);
          seen.fetch_add(1);
        });
        EXPECT_EQ(seen.load(), count);
      }
    });
  }
  for (auto& caller : callers) caller.join();
}

// The point of the pool: a large pass is really shared. The first visit waits (bounded) for a
// visit on another thread; without a helper taking part it would wait out the bound.
TEST(SendPool, ALargePassRunsOnSeveralThreadsAndASmallOneOnTheCallerAlone) {
  SendPool pool(1);
  std::mutex mutex;
  std::condition_variable arrived;
  std::set<std::thread::id> threads;
  pool.ForEachIndex(4 * SendPool::kMinItemsPerThread, [&](size_t) {
    std::unique_lock lock(mutex);
    threads.insert(std::this_thread::get_id());
    arrived.notify_all();
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return threads.size() > 1; });
  });
  EXPECT_EQ(threads.size(), 2u);

  threads.clear();
  pool.ForEachIndex(SendPool::kMinItemsPerThread, [&](size_t) {
    std::lock_guard lock(mutex);
    threads.insert(std::this_thread::get_id());
  });
  EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
}

// A helper that wakes only after the caller has done the whole pass must not carry into the next.
TEST(SendPool, HelpersLateForAPassDoNotCarryIntoTheNext) {
  SendPool pool(3);
  for (int pass = 0; pass < 200; ++pass) {
    ExpectEachOnce(pool, 2 * SendPool::kMinItemsPerThread + static_cast<size_t>(pass));
  }
}

}  // namespace

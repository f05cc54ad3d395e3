#pragma once
// Helper threads that share a pass over many clients with the thread that runs it. One thread
// handing a byte to each of 10,000 sockets takes about 100 ms, since each send carries the
// kernel's whole TCP work for it; several cores finish the same pass in a fraction of that.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "net/Thread.h"

class SendPool {
 public:
  // Below this many items per thread, waking a helper costs more than it saves.
  static constexpr size_t kMinItemsPerThread = 256;

  // Starts up to `helpers` threads at once (fewer if the system refuses one); they wait,
  // asleep, for passes. 0: every pass runs on the calling thread alone.
  explicit SendPool(size_t helpers);
  // Ends and joins the helpers. No pass may be running.
  ~SendPool();
  SendPool(const SendPool&) = delete;
  SendPool& operator=(const SendPool&) = delete;

  // One helper per core besides the caller's, at most three.
  static size_t DefaultHelpers();
  size_t Helpers() const { return helpers_.size(); }

  // Any thread. Calls visit(i) once for every i below `count` and returns when all have
  // returned. Calls run on this thread and on the helpers at once, in no set order. Passes from
  // several threads run one after another. `visit` must not start a pass itself.
  template <typename Visit>
  void ForEachIndex(size_t count, Visit&& visit) {
    using Decayed = std::remove_reference_t<Visit>;
    Run(
        count, [](void* context, size_t index) { (*static_cast<Decayed*>(context))(index); },
        const_cast<void*>(static_cast<const void*>(&visit)));
  }

 private:
  using Call = void (*)(void* context, size_t index);

  void Run(size_t count, Call call, void* context);
  void Work();
  static void HelperLoop(void* pool);

  std::vector<std::unique_ptr<Thread>> helpers_;
  std::mutex passMutex_;  // one pass at a time; taken before mutex_

  // A mutex and condition variables rather than std::counting_semaphore: libstdc++'s semaphore
  // can lose a wake-up when several threads wait on it (GCC bug 104928), which hung the pool.
  std::mutex mutex_;
  std::condition_variable wake_;      // helpers: a pass wants them, or the pool is ending
  std::condition_variable finished_;  // the caller: every helper that joined has finished
  size_t openSeats_ = 0;              // helpers the pass still wants
  size_t working_ = 0;                // helpers that joined and have not finished
  bool stopping_ = false;
  // The pass, written under mutex_ while no helper works.
  size_t count_ = 0;
  Call call_ = nullptr;
  void* context_ = nullptr;
  std::atomic<size_t> next_{0};  // the next index nobody has taken yet
};

#include "net/server/SendPool.h"

#include <algorithm>
#include <thread>

namespace {

// Indexes taken at a time. Small, so a thread preempted in the middle of its chunk holds back
// few clients (under 1 % of a pass of 1,000); the shared counter is touched once per 8 sends.
constexpr size_t kChunk = 8;
constexpr size_t kHelperStackSize = 64 * 1024;
constexpr size_t kMaxHelpers = 3;

}  // namespace

SendPool::SendPool(size_t helpers) {
  for (size_t i = 0; i < helpers; ++i) {
    auto thread = std::make_unique<Thread>();
    if (!thread->Start(&SendPool::HelperLoop, this, kHelperStackSize)) break;
    helpers_.push_back(std::move(thread));
  }
}

SendPool::~SendPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& helper : helpers_) helper->Join();
}

size_t SendPool::DefaultHelpers() {
  const size_t cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min(cores - 1, kMaxHelpers);
}

void SendPool::Run(size_t count, Call call, void* context) {
  std::lock_guard pass(passMutex_);
  const size_t wanted = count / kMinItemsPerThread;
  const size_t seats = std::min(helpers_.size(), wanted > 0 ? wanted - 1 : 0);
  if (seats == 0) {  // the usual pass: no helper to tell or wait for
    for (size_t i = 0; i < count; ++i) call(context, i);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    count_ = count;
    call_ = call;
    context_ = context;
    next_.store(0, std::memory_order_relaxed);
    openSeats_ = seats;
  }
  wake_.notify_all();
  Work();
  std::unique_lock lock(mutex_);
  // Helpers that have not woken by now would find nothing left: do not wait for them.
  openSeats_ = 0;
  finished_.wait(lock, [this] { return working_ == 0; });
}

void SendPool::Work() {
  for (;;) {
    const size_t begin = next_.fetch_add(kChunk, std::memory_order_relaxed);
    if (begin >= count_) return;
    const size_t end = std::min(begin + kChunk, count_);
    for (size_t i = begin; i < end; ++i) call_(context_, i);
  }
}

void SendPool::HelperLoop(void* parameter) {
  auto* pool = static_cast<SendPool*>(parameter);
  std::unique_lock lock(pool->mutex_);
  for (;;) {
    pool->wake_.wait(lock, [pool] { return pool->stopping_ || pool->openSeats_ > 0; });
    if (pool->stopping_) return;
    --pool->openSeats_;
    ++pool->working_;
    lock.unlock();
    pool->Work();
    lock.lock();
    if (--pool->working_ == 0) pool->finished_.notify_one();
  }
}

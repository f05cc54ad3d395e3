#pragma once
// The main loops' queue of tasks for the main thread, filled from any thread. The loop closes
// it when it quits: what it holds is dropped, and so is every later task.

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

class TaskQueue {
 public:
  // Any thread. False when closed: the task was dropped and nobody need be woken.
  bool Push(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (!closed_) tasks_.push_back(std::move(task));
    return !closed_;
  }
  // Main thread. What was queued, in order; the loop runs each unless Closed by then.
  std::deque<std::function<void()>> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(tasks_, {});
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    tasks_.clear();
  }
  bool Closed() const { return closed_; }

 private:
  std::mutex mutex_;
  std::atomic<bool> closed_{false};  // written under the mutex, read without it
  std::deque<std::function<void()>> tasks_;
};

#pragma once
// The main loops' queue of tasks for the main thread, filled from any thread. Once the loop
// quits the queue is closed: what it holds is dropped, and so is every later task.

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

class TaskQueue {
 public:
  // Any thread. False when the queue is closed and the task was dropped (nobody need be woken).
  bool Push(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (closed_.load()) return false;
    tasks_.push_back(std::move(task));
    return true;
  }
  // Main thread. Everything queued so far, in order; the loop runs each unless Closed by then.
  std::deque<std::function<void()>> Take() {
    std::lock_guard lock(mutex_);
    std::deque<std::function<void()>> taken;
    taken.swap(tasks_);
    return taken;
  }
  // Any thread. For good; drops what is queued.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_.store(true);
    tasks_.clear();
  }
  bool Closed() const { return closed_.load(); }

 private:
  std::mutex mutex_;
  std::atomic<bool> closed_{false};  // written under the mutex, read without it
  std::deque<std::function<void()>> tasks_;
};

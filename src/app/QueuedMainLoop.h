#pragma once
// What the platform loops share: other threads reach the main thread only through the task
// queue, and a timer started from another thread travels there as a task. A loop adds how it
// is woken, how it knows its own thread, and how a timer starts there.

#include <cstdint>
#include <functional>

#include "app/IMainLoop.h"
#include "app/TaskQueue.h"

class QueuedMainLoop : public IMainLoop {
 public:
  // Queued only once the loop can be woken (after Open) and until it quits.
  void RunOnMainThread(std::function<void()> task) final;
  // At once on the main thread; from another, a moment later through the queue.
  void StartTimer(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) final;

 protected:
  // Any thread. Whether Open has made the loop wakeable.
  virtual bool Wakeable() const = 0;
  // Any thread. Makes the main thread take what is queued soon.
  virtual void Wake() = 0;
  virtual bool OnMainThread() const = 0;
  // Main thread. Starts `timer`, or restarts its period when it runs; ignored after Quit.
  virtual void StartHere(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) = 0;

  TaskQueue tasks_;  // closed when the loop quits
};

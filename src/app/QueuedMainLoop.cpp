#include "app/QueuedMainLoop.h"

#include <utility>

void QueuedMainLoop::RunOnMainThread(std::function<void()> task) {
  if (Wakeable() && tasks_.Push(std::move(task))) Wake();
}

void QueuedMainLoop::StartTimer(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) {
  if (OnMainThread()) {
    StartHere(timer, periodMs, std::move(tick));
    return;
  }
  RunOnMainThread([this, timer, periodMs, tick = std::move(tick)]() mutable {
    StartHere(timer, periodMs, std::move(tick));
  });
}

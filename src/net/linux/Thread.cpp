#include "net/Thread.h"

#include <pthread.h>

#include <cerrno>
#include <climits>

#include "base/Log.h"

namespace {

struct StartArgs {
  Thread::Procedure procedure;
  void* parameter;
};

void* Trampoline(void* boxed) {
  const StartArgs start = *static_cast<StartArgs*>(boxed);
  delete static_cast<StartArgs*>(boxed);
  start.procedure(start.parameter);
  return nullptr;
}

// Sanitizers keep large frames and their own runtime state on the thread's stack.
size_t AdjustedStackSize(size_t requested) {
  if (requested == 0) return 0;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  requested *= 8;
#endif
  const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  return requested < minimum ? minimum : requested;
}

}  // namespace

Thread::~Thread() {
  Join();
}

bool Thread::Start(Procedure procedure, void* parameter, size_t stackSize) {
  if (handle_ != nullptr) return false;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  const size_t size = AdjustedStackSize(stackSize);
  bool ok = size == 0 || pthread_attr_setstacksize(&attributes, size) == 0;
  auto* start = new StartArgs{procedure, parameter};
  auto* thread = new pthread_t{};
  const int created = ok ? pthread_create(thread, &attributes, &Trampoline, start) : EINVAL;
  pthread_attr_destroy(&attributes);
  if (created != 0) {
    LogSystemError("cannot start a thread", created);
    delete start;
    delete thread;
    return false;
  }
  handle_ = thread;
  return true;
}

void Thread::Join() {
  if (handle_ == nullptr) return;
  auto* thread = static_cast<pthread_t*>(handle_);
  pthread_join(*thread, nullptr);
  delete thread;
  handle_ = nullptr;
}

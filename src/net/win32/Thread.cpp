#include "net/Thread.h"

#include <process.h>
#include <windows.h>

#include <cerrno>

#include "base/Log.h"

namespace {

struct StartArgs {
  Thread::Procedure procedure;
  void* parameter;
};

unsigned __stdcall Trampoline(void* boxed) {
  const StartArgs start = *static_cast<StartArgs*>(boxed);
  delete static_cast<StartArgs*>(boxed);
  start.procedure(start.parameter);
  return 0;
}

}  // namespace

Thread::~Thread() {
  Join();
}

bool Thread::Start(Procedure procedure, void* parameter, size_t stackSize) {
  if (handle_ != nullptr) return false;
  auto* start = new StartArgs{procedure, parameter};
  // _beginthreadex, not CreateThread: the C runtime sets up its per-thread state. The size is
  // the reserve, so a small request does not cost committed memory per client.
  const uintptr_t handle =
      _beginthreadex(nullptr, static_cast<unsigned>(stackSize), &Trampoline, start,
                     stackSize != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (handle == 0) {
    LogSystemError("cannot start a thread", errno);
    delete start;
    return false;
  }
  handle_ = reinterpret_cast<void*>(handle);
  return true;
}

void Thread::Join() {
  if (handle_ == nullptr) return;
  WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

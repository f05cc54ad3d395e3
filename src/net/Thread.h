#pragma once
// A joinable thread with a chosen stack size (std::thread cannot set one, and the server runs a
// reader thread per client). One implementation per platform (linux/Thread.cpp,
// win32/Thread.cpp). Nothing is ever detached: the owner joins, and the destructor joins a
// thread that is still joinable.

#include <cstddef>

class Thread {
 public:
  using Procedure = void (*)(void* parameter);

  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins a running thread (the owner should have joined it explicitly).
  ~Thread();

  // Any thread. Starts `procedure(parameter)` at once on a new thread whose stack is at least
  // `stackSize` bytes (0: the platform default). The adapter may enlarge small stacks where
  // instrumentation needs it (sanitizer builds). False when the thread could not be created;
  // the object then stays empty. Only on an empty object.
  bool Start(Procedure procedure, void* parameter, size_t stackSize);

  // Any thread but this one. Waits without time-out for the thread to end; then the object is
  // empty again. Does nothing on an empty object.
  void Join();

  bool Joinable() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;  // the platform's thread handle, boxed by the adapter
};

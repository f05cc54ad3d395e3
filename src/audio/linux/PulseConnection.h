#pragma once
// One connection to the sound server over the PulseAudio protocol, on a threaded mainloop.
// Connection set-up and tear-down live here only, so that a reconnect can reuse them.
//
// Threads: Connect/Disconnect on one owning thread (never the mainloop thread). Everything
// else on a thread that holds the mainloop lock (PulseLock), which libpulse also holds while it
// runs our callbacks on its own thread.

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

class PulseConnection {
 public:
  PulseConnection() = default;
  ~PulseConnection() { Disconnect(); }
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connects without spawning a server. False: no sound server answered within a few seconds
  // (everything set up is released again).
  bool Connect(const char* clientName);
  void Disconnect();

  pa_threaded_mainloop* Mainloop() const { return mainloop_; }
  pa_context* Context() const { return context_; }
  // Lock held. True while the context is ready for requests.
  bool IsReady() const;
  // Lock held, not on the mainloop thread. Waits until `operation` finished or the connection
  // failed, and drops it. True when it ran to completion. A null operation is a failure.
  bool Await(pa_operation* operation);
  // Lock held. Wakes every thread blocked in Await or Connect.
  void Signal() { pa_threaded_mainloop_signal(mainloop_, 0); }

  // Lock held (or before Connect). `onLost` runs on the mainloop thread, with the lock held,
  // when a ready connection fails or the server closes it; never for Disconnect. It must not
  // block. Null clears it.
  using LostHook = void (*)(void* userdata);
  void SetLostHook(LostHook onLost, void* userdata) {
    onLost_ = onLost;
    onLostData_ = userdata;
  }

 private:
  static void OnContextState(pa_context* context, void* self);

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  bool wasReady_ = false;  // lock held
  LostHook onLost_ = nullptr;
  void* onLostData_ = nullptr;
};

// Holds the mainloop lock for a scope.
class PulseLock {
 public:
  explicit PulseLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
    pa_threaded_mainloop_lock(mainloop_);
  }
  ~PulseLock() { pa_threaded_mainloop_unlock(mainloop_); }
  PulseLock(const PulseLock&) = delete;
  PulseLock& operator=(const PulseLock&) = delete;

 private:
  pa_threaded_mainloop* mainloop_;
};

#include "audio/linux/PulseConnection.h"

#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

namespace {
// A server that accepts the socket but never completes the handshake must not hang start-up.
constexpr pa_usec_t kConnectTimeoutUsec = 5 * PA_USEC_PER_SEC;

struct ConnectDeadline {
  PulseConnection* connection;
  bool expired = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* deadline = static_cast<ConnectDeadline*>(userdata);
  deadline->expired = true;
  deadline->connection->Signal();
}
}  // namespace

void PulseConnection::OnContextState(pa_context* context, void* self) {
  auto* connection = static_cast<PulseConnection*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_READY) connection->wasReady_ = true;
  if (!PA_CONTEXT_IS_GOOD(state) && connection->wasReady_) {
    connection->wasReady_ = false;
    if (connection->onLost_ != nullptr) connection->onLost_(connection->onLostData_);
  }
  connection->Signal();
}

bool PulseConnection::IsReady() const {
  return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseConnection::Connect(const char* clientName) {
  Disconnect();
  wasReady_ = false;
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), clientName);
  if (context_ == nullptr) {
    Disconnect();
    return false;
  }
  pa_context_set_state_callback(context_, &PulseConnection::OnContextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(mainloop_) < 0) {
    Disconnect();
    return false;
  }

  bool ready = false;
  {
    PulseLock lock(mainloop_);
    ConnectDeadline deadline{this};
    pa_time_event* timer = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUsec,
                                                 &OnDeadline, &deadline);
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) {
        ready = true;
        break;
      }
      if (!PA_CONTEXT_IS_GOOD(state) || deadline.expired) break;
      pa_threaded_mainloop_wait(mainloop_);
    }
    if (timer != nullptr) pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
  }
  if (!ready) Disconnect();
  return ready;
}

void PulseConnection::Disconnect() {
  if (mainloop_ == nullptr) return;
  if (context_ != nullptr) {
    PulseLock lock(mainloop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
  }
  // Stopping joins the mainloop thread, so no callback of ours runs after this line.
  pa_threaded_mainloop_stop(mainloop_);
  if (context_ != nullptr) pa_context_unref(context_);
  context_ = nullptr;
  pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
}

bool PulseConnection::Await(pa_operation* operation) {
  if (operation == nullptr) return false;
  while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
    if (!IsReady()) {
      pa_operation_cancel(operation);
      break;
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  return done;
}

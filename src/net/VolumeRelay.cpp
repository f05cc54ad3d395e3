#include "net/VolumeRelay.h"

#include <atomic>

#include "net/Protocol.h"
#include "net/server/ClientConnection.h"

MyClientListener::MyClientListener(NetworkServer& server, IRetryTimer& retryTimer)
    : server_(server), retryTimer_(retryTimer) {}

void MyClientListener::SetVolumeControl(IVolumeControl* control) {
  control_ = control;
}

void MyClientListener::OnVolumeReceived(ClientConnection*, const VolumeState* state) {
  // The reader recorded the request as the client's state just now; a failed change reports
  // nothing, so only a broadcast after the hold-off corrects what the client believes.
  if (control_ != nullptr && !control_->SetState(state)) retryTimer_.Arm(HOLD_OFF_MS + 1);
}

void MyClientListener::OnClientDisconnected(ClientConnection*) {}

bool MyClientListener::BroadcastState(uint32_t* retryInMs) {
  if (control_ == nullptr) return false;
  VolumeState state;
  control_->GetState(&state);
  constexpr uint32_t kNoneDeferred = HOLD_OFF_MS + 1;
  std::atomic<uint32_t> holdOffLeftMs{kNoneDeferred};  // visits run on several threads
  // Broadcasts run on several threads (the retry tick, the audio system's, readers'). One that
  // read the state just before a change could pass after that change's own broadcast and leave
  // clients with the older state, so each ends with a pass of a state read after its last pass.
  for (;;) {
    Pass(state, holdOffLeftMs);
    VolumeState now;
    control_->GetState(&now);
    if (now == state) break;
    state = now;
  }
  const uint32_t left = holdOffLeftMs.load(std::memory_order_relaxed);
  if (left == kNoneDeferred) return false;
  // A tick in the very millisecond the hold-off ends would still find the client inside it.
  if (retryInMs != nullptr) *retryInMs = left + 1;
  return true;
}

void MyClientListener::Pass(const VolumeState& state, std::atomic<uint32_t>& holdOffLeftMs) {
  server_.ForEachClient([&](ClientConnection* connection) {
    uint32_t left = 0;
    switch (SendStateIfDue(connection, &state, &left)) {
      case SendStateResult::Done:
        break;
      case SendStateResult::Deferred: {
        uint32_t shortest = holdOffLeftMs.load(std::memory_order_relaxed);
        while (left < shortest &&
               !holdOffLeftMs.compare_exchange_weak(shortest, left, std::memory_order_relaxed)) {
        }
        break;
      }
      case SendStateResult::SendFailed:
        // Its reader sees the end of the stream and the usual disconnection retires it.
        ShutdownClient(connection);
        break;
    }
  });
}

void MyClientListener::SendKeepAlive() {
  server_.ForEachClient([](ClientConnection* connection) {
    // A keep-alive the socket cannot take at once is dropped, like a failed one.
    SendToClient(connection, &kKeepAliveByte, 1);
  });
}

void MyClientListener::OnVolumeChanged() {
  uint32_t retryInMs = 0;
  if (BroadcastState(&retryInMs)) retryTimer_.Arm(retryInMs);
}

namespace {
std::atomic<MyClientListener*> volumeChangedRelay{nullptr};
}  // namespace

void SetVolumeChangedRelay(MyClientListener* relay) {
  volumeChangedRelay.store(relay);
}

void OnVolumeChanged(int32_t, const VolumeState*) {
  MyClientListener* relay = volumeChangedRelay.load();
  if (relay != nullptr) relay->OnVolumeChanged();
}

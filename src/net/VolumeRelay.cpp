#include "net/VolumeRelay.h"

#include <atomic>

#include "net/ClientConnection.h"
#include "net/Protocol.h"

MyClientListener::MyClientListener(NetworkServer& server, IRetryTimer& retryTimer)
    : server_(server), retryTimer_(retryTimer) {}

void MyClientListener::SetVolumeControl(IVolumeControl* control) {
  control_ = control;
}

void MyClientListener::OnVolumeReceived(ClientConnection*, const VolumeState* state) {
  if (control_ != nullptr) control_->SetState(state);
}

void MyClientListener::OnClientDisconnected(ClientConnection*) {}

bool MyClientListener::BroadcastState() {
  if (control_ == nullptr) return false;
  VolumeState state;
  control_->GetState(&state);
  std::atomic<bool> deferred{false};  // visits run on several threads
  // Broadcasts run on several threads (the retry tick, the audio system's, readers'). One that
  // read the state just before a change could pass after that change's own broadcast and leave
  // clients with the older state, so each ends with a pass of a state read after its last pass.
  for (;;) {
    Pass(state, deferred);
    VolumeState now;
    control_->GetState(&now);
    if (now == state) break;
    state = now;
  }
  return deferred.load(std::memory_order_relaxed);
}

void MyClientListener::Pass(const VolumeState& state, std::atomic<bool>& deferred) {
  server_.ForEachClient([&](ClientConnection* connection) {
    switch (SendStateIfDue(connection, &state)) {
      case SendStateResult::Done:
        break;
      case SendStateResult::Deferred:
        deferred.store(true, std::memory_order_relaxed);
        break;
      case SendStateResult::SendFailed:
        // Its reader sees the end of the stream and the usual disconnection retires it.
        ShutdownBoth(connection->socket.Get());
        break;
    }
  });
}

void MyClientListener::SendKeepAlive() {
  server_.ForEachClient([](ClientConnection* connection) {
    // A keep-alive the socket cannot take at once is dropped, like a failed one.
    SendNow(connection->socket.Get(), &kKeepAliveByte, 1);
  });
}

void MyClientListener::OnVolumeChanged() {
  if (BroadcastState()) retryTimer_.Arm();
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

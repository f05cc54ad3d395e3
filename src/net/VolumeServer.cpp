#include "net/VolumeServer.h"

VolumeServer::VolumeServer(IClock& clock, IRetryTimer& retryTimer)
    : relay_(server_, retryTimer), server_(clock) {
  server_.SetExternalListener(&relay_);
}

VolumeServer::~VolumeServer() {
  UnregisterChangeCallback();
  server_.Stop();
}

void VolumeServer::Connect(IVolumeControl* control) {
  control_ = control;
  server_.SetStateSource(control);
  relay_.SetVolumeControl(control);
}

void VolumeServer::RegisterChangeCallback() {
  if (control_ == nullptr || registered_) return;
  SetVolumeChangedRelay(&relay_);
  control_->SetChangeCallback(&OnVolumeChanged, 0);
  registered_ = true;
}

void VolumeServer::UnregisterChangeCallback() {
  if (!registered_) return;
  control_->SetChangeCallback(nullptr, 0);
  SetVolumeChangedRelay(nullptr);
  registered_ = false;
}

uint16_t VolumeServer::Serve(IVolumeControl* control, uint16_t port) {
  Connect(control);
  if (!server_.BindAndListen(port)) return 0;
  RegisterChangeCallback();
  return server_.Start() ? server_.ListeningPort() : 0;
}

#include "PulseDriver.h"

#include "fakes/Eventually.h"

PulseDriver::~PulseDriver() {
  if (connected_) connection_.Shutdown();
}

bool PulseDriver::Connect() {
  connected_ = connection_.Initialize() == InitResult::Ok;
  return connected_;
}

bool PulseDriver::SetDefaultSink(int percent, bool muted) {
  const VolumeState request{static_cast<uint8_t>(muted ? 1 : 0), percent};
  return connected_ && connection_.SetState(&request);
}

bool PulseDriver::SetDefaultSinkAndWait(int percent, bool muted) {
  if (!SetDefaultSink(percent, muted)) return false;
  // The connection's own cache follows the server's events: once it shows the change, the
  // server has applied it.
  const VolumeState wanted{static_cast<uint8_t>(muted ? 1 : 0), percent};
  return Eventually([&] {
    VolumeState state;
    connection_.GetState(&state);
    return state == wanted;
  });
}

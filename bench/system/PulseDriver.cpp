#include "PulseDriver.h"

#include <string>

#include "fakes/Eventually.h"
#include "fixtures/SoundServer.h"

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
  // The connection takes a request as its state at once; only the sound server itself can
  // tell that it applied it.
  std::string volume = " ";  // "/  40% /": not a part of " 140%"
  volume += std::to_string(percent);
  volume += "%";
  return Eventually([&] {
    const std::string shown = soundserver::Output("pactl get-sink-volume @DEFAULT_SINK@");
    return shown.find(volume) != std::string::npos &&
           soundserver::IsMuted("@DEFAULT_SINK@") == muted;
  });
}

#include "PulseDriver.h"

#include <pulse/introspect.h>
#include <pulse/volume.h>

#include <cmath>

namespace {
constexpr const char* kDefaultSink = "@DEFAULT_SINK@";

void Drop(pa_operation* operation) {
  if (operation != nullptr) pa_operation_unref(operation);
}

// Wakes a thread waiting in PulseConnection::Await.
void OnDone(pa_context*, int, void* connection) {
  static_cast<PulseConnection*>(connection)->Signal();
}
}  // namespace

bool PulseDriver::Connect() { return connection_.Connect("quavix system bench") && ReadChannels(); }

bool PulseDriver::ReadChannels() {
  PulseLock lock(connection_.Mainloop());
  struct Reading {
    PulseConnection* connection;
    int channels = 0;
  } reading{&connection_};
  auto onInfo = [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* r = static_cast<Reading*>(userdata);
    if (eol == 0 && info != nullptr) r->channels = info->volume.channels;
    r->connection->Signal();
  };
  const bool done = connection_.Await(
      pa_context_get_sink_info_by_name(connection_.Context(), kDefaultSink, onInfo, &reading));
  channels_ = reading.channels;
  return done && channels_ > 0;
}

bool PulseDriver::SetDefaultSink(int percent, bool muted) { return Send(percent, muted, false); }
bool PulseDriver::SetDefaultSinkAndWait(int percent, bool muted) {
  return Send(percent, muted, true);
}

bool PulseDriver::Send(int percent, bool muted, bool wait) {
  pa_cvolume volume;
  // The server reads the loudest channel's share of the nominal volume, rounded to a percent.
  pa_cvolume_set(&volume, static_cast<unsigned>(channels_),
                 static_cast<pa_volume_t>(std::lround(percent / 100.0 * PA_VOLUME_NORM)));
  PulseLock lock(connection_.Mainloop());
  if (!connection_.IsReady()) return false;
  pa_context* context = connection_.Context();
  pa_operation* setVolume =
      pa_context_set_sink_volume_by_name(context, kDefaultSink, &volume, &OnDone, &connection_);
  pa_operation* setMute = pa_context_set_sink_mute_by_name(context, kDefaultSink, muted ? 1 : 0,
                                                           &OnDone, &connection_);
  if (!wait) {
    const bool sent = setVolume != nullptr && setMute != nullptr;
    Drop(setVolume);
    Drop(setMute);
    return sent;
  }
  const bool volumeDone = connection_.Await(setVolume);
  return connection_.Await(setMute) && volumeDone;
}

#include "audio/linux/PulseEndpointDevice.h"

#include <pulse/volume.h>

#include <algorithm>
#include <cmath>

namespace {
// The server resolves this name to its default sink at the moment of each request, so a write
// never lands on a sink that stopped being the default a moment earlier.
constexpr const char* kDefaultSink = "@DEFAULT_SINK@";
constexpr const char* kClientName = "Quavix Server";

float ScalarOf(const pa_cvolume& volume) {
  return static_cast<float>(static_cast<double>(pa_cvolume_max(&volume)) / PA_VOLUME_NORM);
}

pa_volume_t VolumeOf(float scalar) {
  // Never louder than the sink's nominal 100 % and never negative, whatever is asked.
  if (!(scalar > 0.0f)) return PA_VOLUME_MUTED;
  if (scalar >= 1.0f) return PA_VOLUME_NORM;
  return static_cast<pa_volume_t>(std::lround(static_cast<double>(scalar) * PA_VOLUME_NORM));
}

struct SuccessRequest {
  PulseConnection* connection;
  bool success = false;
};

void OnSuccess(pa_context*, int success, void* userdata) {
  auto* request = static_cast<SuccessRequest*>(userdata);
  request->success = success != 0;
  request->connection->Signal();
}
}  // namespace

struct PulseEndpointDevice::SinkReading {
  PulseConnection* connection;
  bool found = false;
  uint32_t index = PA_INVALID_INDEX;
  bool muted = false;
  pa_cvolume volume{};
};

PulseEndpointDevice::~PulseEndpointDevice() {
  CloseConnection();
}

bool PulseEndpointDevice::CreateEnumerator() {
  std::unique_lock guard(connectionMutex_);
  enumeratorHeld_ = connection_.Connect(kClientName);
  return enumeratorHeld_;
}

bool PulseEndpointDevice::GetDefaultRenderEndpoint() {
  std::shared_lock guard(connectionMutex_);
  if (connection_.Mainloop() == nullptr) return false;
  PulseLock lock(connection_.Mainloop());
  SinkReading reading{&connection_};
  if (!ReadDefaultSink(&reading)) return false;
  defaultSinkIndex_ = reading.index;
  return true;
}

bool PulseEndpointDevice::ActivateEndpointVolume() {
  std::shared_lock guard(connectionMutex_);
  if (connection_.Mainloop() == nullptr) return false;
  PulseLock lock(connection_.Mainloop());
  if (defaultSinkIndex_ == PA_INVALID_INDEX) return false;
  volumeHeld_ = true;
  return true;
}

void PulseEndpointDevice::ReleaseEnumerator() {
  enumeratorHeld_ = false;
  ReleaseConnectionIfUnused();
}

bool PulseEndpointDevice::ReleaseEndpointVolume() {
  volumeHeld_ = false;
  ReleaseConnectionIfUnused();
  return true;
}

void PulseEndpointDevice::ReleaseConnectionIfUnused() {
  if (!enumeratorHeld_ && !volumeHeld_) CloseConnection();
}

void PulseEndpointDevice::CloseConnection() {
  registered_ = false;
  StopNotifyThread();
  std::unique_lock guard(connectionMutex_);
  connection_.Disconnect();
}

bool PulseEndpointDevice::ReadDefaultSink(SinkReading* reading) {
  if (!connection_.IsReady()) return false;
  auto onInfo = [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* request = static_cast<SinkReading*>(userdata);
    if (eol == 0 && info != nullptr) {
      request->found = true;
      request->index = info->index;
      request->muted = info->mute != 0;
      request->volume = info->volume;
    }
    request->connection->Signal();
  };
  const bool done = connection_.Await(
      pa_context_get_sink_info_by_name(connection_.Context(), kDefaultSink, onInfo, reading));
  return done && reading->found && pa_cvolume_valid(&reading->volume);
}

bool PulseEndpointDevice::ReadDefaultSinkNow(SinkReading* reading) {
  std::shared_lock guard(connectionMutex_);
  pa_threaded_mainloop* mainloop = connection_.Mainloop();
  if (mainloop == nullptr || pa_threaded_mainloop_in_thread(mainloop)) return false;
  PulseLock lock(mainloop);
  return ReadDefaultSink(reading);
}

bool PulseEndpointDevice::GetMute(bool* muted) {
  SinkReading reading{&connection_};
  if (!ReadDefaultSinkNow(&reading)) return false;
  *muted = reading.muted;
  return true;
}

bool PulseEndpointDevice::GetMasterScalar(float* scalar) {
  SinkReading reading{&connection_};
  if (!ReadDefaultSinkNow(&reading)) return false;
  *scalar = ScalarOf(reading.volume);
  return true;
}

bool PulseEndpointDevice::SetMasterScalar(float scalar) {
  std::shared_lock guard(connectionMutex_);
  pa_threaded_mainloop* mainloop = connection_.Mainloop();
  // Waiting on the mainloop thread itself would never return.
  if (mainloop == nullptr || pa_threaded_mainloop_in_thread(mainloop)) return false;
  PulseLock lock(mainloop);
  SinkReading reading{&connection_};
  if (!ReadDefaultSink(&reading)) return false;
  // Scale every channel so the loudest one gets the new level and the balance stays. A volume
  // with one channel would be taken by pipewire-pulse as the left channel only.
  pa_cvolume volume = reading.volume;
  pa_cvolume_scale(&volume, VolumeOf(scalar));
  SuccessRequest request{&connection_};
  const bool done = connection_.Await(pa_context_set_sink_volume_by_index(
      connection_.Context(), reading.index, &volume, &OnSuccess, &request));
  return done && request.success;
}

bool PulseEndpointDevice::SetMute(bool muted) {
  std::shared_lock guard(connectionMutex_);
  pa_threaded_mainloop* mainloop = connection_.Mainloop();
  if (mainloop == nullptr || pa_threaded_mainloop_in_thread(mainloop)) return false;
  PulseLock lock(mainloop);
  if (!connection_.IsReady()) return false;
  SuccessRequest request{&connection_};
  const bool done = connection_.Await(pa_context_set_sink_mute_by_name(
      connection_.Context(), kDefaultSink, muted ? 1 : 0, &OnSuccess, &request));
  return done && request.success;
}

bool PulseEndpointDevice::RegisterNotify(IEndpointNotifyTarget* target) {
  if (target == nullptr || notifyThread_.joinable()) return false;
  {
    std::lock_guard lock(queueMutex_);
    stopNotify_ = false;
    reconnectWanted_ = false;
    pending_.reset();
  }
  registered_ = true;
  notifyThread_ = std::thread(&PulseEndpointDevice::NotifyLoop, this, target);

  bool subscribed = false;
  {
    std::shared_lock guard(connectionMutex_);
    if (connection_.Mainloop() != nullptr) {
      PulseLock lock(connection_.Mainloop());
      subscribed = Subscribe();
    }
  }
  if (!subscribed) {
    registered_ = false;
    StopNotifyThread();
  }
  return subscribed;
}

bool PulseEndpointDevice::Subscribe() {
  notifying_ = false;
  if (!connection_.IsReady()) return false;
  haveLastReported_ = false;
  pa_context_set_subscribe_callback(connection_.Context(),
                                    &PulseEndpointDevice::OnSubscriptionEvent, this);
  SuccessRequest request{&connection_};
  const auto mask =
      static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
  const bool subscribed =
      connection_.Await(pa_context_subscribe(connection_.Context(), mask, &OnSuccess, &request)) &&
      request.success;
  if (!subscribed) return false;
  notifying_ = true;
  connection_.SetLostHook(&PulseEndpointDevice::OnConnectionLost, this);
  // A change between the first reading and the subscription would otherwise go unseen (and
  // after a reconnection this brings the state the server has now).
  RequestNotification();
  return true;
}

bool PulseEndpointDevice::UnregisterNotify(IEndpointNotifyTarget*) {
  if (!notifyThread_.joinable()) return false;
  registered_ = false;  // a reconnection under way stops short of subscribing
  bool unsubscribed = false;
  {
    std::shared_lock guard(connectionMutex_);
    if (connection_.Mainloop() != nullptr) {
      PulseLock lock(connection_.Mainloop());
      notifying_ = false;  // no event queues anything from here on
      connection_.SetLostHook(nullptr, nullptr);
      if (connection_.IsReady()) {
        SuccessRequest request{&connection_};
        unsubscribed =
            connection_.Await(pa_context_subscribe(connection_.Context(), PA_SUBSCRIPTION_MASK_NULL,
                                                   &OnSuccess, &request)) &&
            request.success;
      }
    }
  }
  // Joined without any lock: a notification in flight may be waiting for a thread that needs
  // one, and a reconnection needs the connection mutex.
  StopNotifyThread();
  return unsubscribed;
}

void PulseEndpointDevice::OnConnectionLost(void* self) {
  auto* device = static_cast<PulseEndpointDevice*>(self);
  if (!device->notifying_) return;
  device->notifying_ = false;
  {
    std::lock_guard lock(device->queueMutex_);
    device->reconnectWanted_ = true;
  }
  device->queueChanged_.notify_all();
}

bool PulseEndpointDevice::Reconnect() {
  std::unique_lock guard(connectionMutex_);
  if (!registered_) return true;  // unregistering: nothing to restore
  if (!connection_.Connect(kClientName)) return false;
  PulseLock lock(connection_.Mainloop());
  defaultSinkIndex_ = PA_INVALID_INDEX;  // the first notification tells the new one
  return Subscribe();
}

void PulseEndpointDevice::OnSubscriptionEvent(pa_context*, pa_subscription_event_type_t type,
                                              uint32_t index, void* self) {
  auto* device = static_cast<PulseEndpointDevice*>(self);
  if (!device->notifying_) return;
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  // A server event may be a new default sink; a sink event matters for the default one only.
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
      (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_CHANGE &&
       index == device->defaultSinkIndex_)) {
    device->RequestNotification();
  }
}

void PulseEndpointDevice::RequestNotification() {
  pa_operation* operation = pa_context_get_sink_info_by_name(
      connection_.Context(), kDefaultSink, &PulseEndpointDevice::OnNotifySinkInfo, this);
  if (operation != nullptr) pa_operation_unref(operation);
}

void PulseEndpointDevice::OnNotifySinkInfo(pa_context*, const pa_sink_info* info, int eol,
                                           void* self) {
  auto* device = static_cast<PulseEndpointDevice*>(self);
  if (eol != 0 || info == nullptr || !device->notifying_ || !pa_cvolume_valid(&info->volume)) {
    return;
  }
  // Sink events also come for changes of state, latency or ports; only a new default sink or a
  // new volume or mute is a notification.
  const bool sameSink = info->index == device->defaultSinkIndex_;
  if (sameSink && device->haveLastReported_ && device->lastMuted_ == (info->mute != 0) &&
      pa_cvolume_equal(&device->lastVolume_, &info->volume)) {
    return;
  }
  device->defaultSinkIndex_ = info->index;
  device->haveLastReported_ = true;
  device->lastMuted_ = info->mute != 0;
  device->lastVolume_ = info->volume;
  EndpointNotification notification;
  notification.muted = info->mute != 0 ? 1 : 0;
  notification.masterVolume = ScalarOf(info->volume);
  device->Enqueue(notification);
}

void PulseEndpointDevice::Enqueue(const EndpointNotification& notification) {
  {
    std::lock_guard lock(queueMutex_);
    pending_ = notification;
  }
  queueChanged_.notify_one();
}

void PulseEndpointDevice::NotifyLoop(IEndpointNotifyTarget* target) {
  std::chrono::milliseconds pause = kFirstReconnectPause;
  std::unique_lock lock(queueMutex_);
  for (;;) {
    queueChanged_.wait(lock,
                       [this] { return stopNotify_ || reconnectWanted_ || pending_.has_value(); });
    if (stopNotify_) return;
    if (reconnectWanted_) {
      reconnectWanted_ = false;
      pending_.reset();  // a reading of the old connection
      lock.unlock();
      const bool reconnected = Reconnect();
      lock.lock();
      if (reconnected) {
        pause = kFirstReconnectPause;
      } else {
        // The server is not back yet: try again after a pause (cut short by a stop).
        if (queueChanged_.wait_for(lock, pause, [this] { return stopNotify_; })) return;
        pause = std::min(pause * 2, kLongestReconnectPause);
        reconnectWanted_ = true;
      }
      continue;
    }
    const EndpointNotification notification = *pending_;
    pending_.reset();
    lock.unlock();
    target->OnNotify(&notification);
    lock.lock();
  }
}

void PulseEndpointDevice::StopNotifyThread() {
  if (!notifyThread_.joinable()) return;
  {
    std::lock_guard lock(queueMutex_);
    stopNotify_ = true;
  }
  queueChanged_.notify_all();
  notifyThread_.join();
}

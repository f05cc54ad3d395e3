#include "audio/linux/PulseVolumeControl.h"

#include <pulse/error.h>
#include <pulse/volume.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "audio/OutputDevices.h"
#include "audio/VolumeConversions.h"
#include "base/Log.h"

namespace {
constexpr const char* kDefaultSink = "@DEFAULT_SINK@";
constexpr const char* kClientName = "Quavix Server";
// A server that accepts the socket but never answers must not hang start-up.
constexpr pa_usec_t kStartTimeoutUsec = 5 * PA_USEC_PER_SEC;

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

void Drop(pa_operation* operation) {
  if (operation != nullptr) pa_operation_unref(operation);
}

pa_time_event* NewTimer(pa_mainloop_api* api, pa_usec_t delay, pa_time_event_cb_t callback,
                        void* userdata) {
  timeval when{};
  pa_timeval_add(pa_gettimeofday(&when), delay);
  return api->time_new(api, &when, callback, userdata);
}

// The percent as the server's loudest channel gives it, rounded as pactl shows it.
int32_t PercentOf(const pa_cvolume& volume) {
  return ScalarToPercent(
      static_cast<float>(static_cast<double>(pa_cvolume_max(&volume)) / PA_VOLUME_NORM));
}

pa_volume_t VolumeOf(int32_t percent) {
  // Never louder than the sink's nominal 100 % and never negative, whatever is asked.
  const float scalar = PercentToScalar(percent);
  if (!(scalar > 0.0f)) return PA_VOLUME_MUTED;
  if (scalar >= 1.0f) return PA_VOLUME_NORM;
  return static_cast<pa_volume_t>(std::lround(static_cast<double>(scalar) * PA_VOLUME_NORM));
}
}  // namespace

PulseVolumeControl::~PulseVolumeControl() {
  StopReporting();
  Release();
}

InitResult PulseVolumeControl::Initialize() {
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return InitResult::Failed;
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    Release();
    return InitResult::Failed;
  }
  InitResult result = InitResult::Ok;
  {
    PulseLock lock(mainloop_);
    result = Start();
  }
  if (result != InitResult::Ok) {
    Release();
    return result;
  }
  reporter_ = std::thread(&PulseVolumeControl::ReportLoop, this);
  return InitResult::Ok;
}

InitResult PulseVolumeControl::Start() {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
  pa_time_event* deadline =
      NewTimer(api, kStartTimeoutUsec, &PulseVolumeControl::OnStartDeadline, this);
  bool wasReady = false;
  InitResult result = InitResult::Ok;
  if (!OpenContext()) {
    result = InitResult::NoInterface;
  } else {
    // The mainloop thread subscribes as soon as the context is ready, and the first reading of
    // the default sink switches the phase to Running.
    for (;;) {
      if (phase_ == Phase::Running) break;
      const pa_context_state_t state = pa_context_get_state(context_);
      wasReady = wasReady || state == PA_CONTEXT_READY;
      if (startError_ != InitResult::Ok) {
        result = startError_;
      } else if (!PA_CONTEXT_IS_GOOD(state) || startExpired_) {
        // A server that took the connection is there, answering or not: ALSA's plugin for it
        // would only hang on it as well.
        result = wasReady || reachedServer_ ? InitResult::Failed : InitResult::NoInterface;
      }
      if (result != InitResult::Ok) break;
      pa_threaded_mainloop_wait(mainloop_);
    }
  }
  if (deadline != nullptr) api->time_free(deadline);
  if (result != InitResult::Ok) {
    if (startExpired_ && reachedServer_) {
      LogError("the sound server took the connection but did not answer within " +
               std::to_string(kStartTimeoutUsec / PA_USEC_PER_SEC) + " s (is it stopped?)");
    } else {
      LogError(std::string("sound server: ") + (startExpired_ ? "no answer"
                                                : context_ != nullptr
                                                    ? pa_strerror(pa_context_errno(context_))
                                                    : "cannot connect"));
    }
    phase_ = Phase::Closing;
  }
  return result;
}

bool PulseVolumeControl::OpenContext() {
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), kClientName);
  if (context_ == nullptr) return false;
  pa_context_set_state_callback(context_, &PulseVolumeControl::OnContextState, this);
  return pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void PulseVolumeControl::CloseContext() {
  if (context_ == nullptr) return;
  // Cleared first: disconnecting reports a state change, and pending requests are dropped
  // without their callbacks.
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
  // Requests of the old connection were dropped with it.
  writesInFlight_ = 0;
  haveNextWrite_ = false;
}

void PulseVolumeControl::OnContextState(pa_context* context, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  // Past connecting, the socket is open and a server is there.
  if (state == PA_CONTEXT_AUTHORIZING || state == PA_CONTEXT_SETTING_NAME) {
    control->reachedServer_ = true;
  }
  if (state == PA_CONTEXT_READY && control->phase_ != Phase::Closing) {
    control->reconnectPause_ = kFirstReconnectPauseUsec;
    control->SubscribeAndRead();
  } else if (!PA_CONTEXT_IS_GOOD(state) && control->phase_ == Phase::Running) {
    control->haveSink_ = false;
    control->PublishOutputs({});  // none of its sinks can be chosen while it is away
    control->ScheduleReconnect();
  }
  control->Signal();
}

void PulseVolumeControl::SubscribeAndRead() {
  pa_context_set_subscribe_callback(context_, &PulseVolumeControl::OnEvent, this);
  const auto mask =
      static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
  Drop(pa_context_subscribe(context_, mask, &PulseVolumeControl::OnSubscribed, this));
  // Asked after subscribing: the server answers in order, so no change falls between the
  // reading and the first event.
  reportNext_ = true;
  QueryDefaultSink();
  ReadOutputs();
}

void PulseVolumeControl::OnSubscribed(pa_context*, int success, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  if (success == 0 && control->phase_ == Phase::Starting) {
    control->startError_ = InitResult::Failed;
    control->Signal();
  }
}

void PulseVolumeControl::QueryDefaultSink() {
  // By name: the server resolves it to the default sink of the moment.
  Drop(pa_context_get_sink_info_by_name(context_, kDefaultSink, &PulseVolumeControl::OnSinkInfo,
                                        this));
}

void PulseVolumeControl::OnEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index,
                                 void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  // Before the first reading an event brings nothing that reading will not.
  if (control->phase_ != Phase::Running) return;
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  // The list changes with a sink that comes or goes, or a new default; a sink's change event,
  // which every volume change brings, leaves it alone.
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
      (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE)) {
    control->ReadOutputs();
  }
  // A server event may be a new default sink; a sink event matters for the default one only.
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
      (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_CHANGE &&
       index == control->sinkIndex_)) {
    control->QueryDefaultSink();
  }
}

void PulseVolumeControl::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  const bool reading = eol == 0 && info != nullptr && pa_cvolume_valid(&info->volume);
  if (control->phase_ == Phase::Starting) {
    if (!reading) {
      if (control->startError_ == InitResult::Ok) {
        control->startError_ = InitResult::NoDevice;
      }
      control->Signal();
      return;
    }
    if (control->startError_ != InitResult::Ok) return;
  }
  if (!reading || control->phase_ == Phase::Closing) return;

  const bool mute = info->mute != 0;
  control->haveSink_ = true;
  control->sinkIndex_ = info->index;
  control->sinkVolume_ = info->volume;
  const VolumeState state{static_cast<uint8_t>(mute ? 1 : 0), PercentOf(info->volume)};
  if (control->phase_ == Phase::Starting) {
    // The first reading: nobody is told, as no callback can be registered yet.
    {
      std::lock_guard lock(control->stateMutex_);
      control->state_ = state;
    }
    control->phase_ = Phase::Running;
    control->reportNext_ = false;
    control->Signal();
    return;
  }
  // With our writes outstanding the reading lags behind the requests already reported and
  // would move the other clients' sliders back; the reading after the last write tells.
  if (control->WritesOutstanding()) return;
  control->Publish(state, control->reportNext_);
  control->reportNext_ = false;
}

void PulseVolumeControl::ReadOutputs() {
  // The server answers in order: its defaults first, then every sink, then the end of the list.
  Drop(pa_context_get_server_info(context_, &PulseVolumeControl::OnServerInfo, this));
  Drop(pa_context_get_sink_info_list(context_, &PulseVolumeControl::OnSinkListed, this));
}

void PulseVolumeControl::OnServerInfo(pa_context*, const pa_server_info* info, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  control->readingOutputs_ = {};
  control->readingOutputs_.canChoose = true;
  if (info != nullptr && info->default_sink_name != nullptr) {
    control->readingOutputs_.defaultId = info->default_sink_name;
  }
}

void PulseVolumeControl::OnSinkListed(pa_context* context, const pa_sink_info* info, int eol,
                                      void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  if (eol < 0) {
    LogError(std::string("sound server: cannot list the sinks: ") +
             pa_strerror(pa_context_errno(context)));
    return;
  }
  if (eol > 0) {
    if (control->phase_ != Phase::Closing) control->PublishOutputs(control->readingOutputs_);
    return;
  }
  if (info == nullptr || info->name == nullptr) return;
  // The server's own names keep to this set; a sink named otherwise could not be asked for.
  if (!IsOutputDeviceId(info->name)) {
    LogNote(std::string("sound server: sink \"") + info->name +
            "\" is not offered: its name is not one word of letters, digits and ._-:{}");
    return;
  }
  const char* description = info->description != nullptr ? info->description : info->name;
  control->readingOutputs_.devices.push_back({info->name, description});
}

void PulseVolumeControl::PublishOutputs(OutputList outputs) {
  {
    std::lock_guard lock(stateMutex_);
    if (outputs_ == outputs) return;
    outputs_ = std::move(outputs);
    outputsPending_ = true;
  }
  reportWanted_.notify_one();
}

OutputList PulseVolumeControl::List() {
  std::lock_guard lock(stateMutex_);
  return outputs_;
}

bool PulseVolumeControl::MakeDefault(const std::string& id) {
  if (!IsOutputDeviceId(id)) return false;
  PulseLock lock(mainloop_);
  if (phase_ != Phase::Running || context_ == nullptr ||
      pa_context_get_state(context_) != PA_CONTEXT_READY) {
    return false;
  }
  {
    std::lock_guard stateLock(stateMutex_);
    if (!IsListed(outputs_, id)) return false;
  }
  pa_operation* operation =
      pa_context_set_default_sink(context_, id.c_str(), &PulseVolumeControl::OnDefaultSet, this);
  if (operation == nullptr) {
    LogError("sound server: cannot make \"" + id +
             "\" the default: " + pa_strerror(pa_context_errno(context_)));
    return false;
  }
  Drop(operation);
  return true;
}

void PulseVolumeControl::OnDefaultSet(pa_context* context, int success, void*) {
  // The sink may have gone between the page's choice and the request.
  if (success == 0) {
    LogError(std::string("sound server: the default sink was not changed: ") +
             pa_strerror(pa_context_errno(context)));
  }
}

void PulseVolumeControl::SetOutputsCallback(OutputsChangedCallback callback) {
  outputsCallback_.Set(std::move(callback));
}

void PulseVolumeControl::Publish(const VolumeState& reading, bool always) {
  {
    std::lock_guard lock(stateMutex_);
    // Sink events also come for changes of state, latency, ports or balance: not news.
    if (!always && state_ == reading) return;
    state_ = reading;
    ++cacheVersion_;
    reportPending_ = true;
  }
  reportWanted_.notify_one();
}

void PulseVolumeControl::ScheduleReconnect() {
  if (reconnectTimer_ != nullptr) return;
  reconnectTimer_ = NewTimer(pa_threaded_mainloop_get_api(mainloop_), reconnectPause_,
                             &PulseVolumeControl::OnReconnectTimer, this);
  reconnectPause_ = std::min(reconnectPause_ * 2, kLongestReconnectPauseUsec);
}

void PulseVolumeControl::OnReconnectTimer(pa_mainloop_api* api, pa_time_event* event,
                                          const struct timeval*, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  api->time_free(event);
  control->reconnectTimer_ = nullptr;
  if (control->phase_ != Phase::Running) return;
  control->CloseContext();
  // A failure now or later (the state callback) tries again after the next pause.
  if (!control->OpenContext()) control->ScheduleReconnect();
}

void PulseVolumeControl::OnStartDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                         void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  control->startExpired_ = true;
  control->Signal();
}

bool PulseVolumeControl::GetState(VolumeState* state) {
  std::lock_guard lock(stateMutex_);
  *state = state_;
  return true;
}

bool PulseVolumeControl::SetState(const VolumeState* state) {
  const VolumeState request = *state;
  {
    PulseLock lock(mainloop_);
    if (phase_ != Phase::Running || !haveSink_ || context_ == nullptr ||
        pa_context_get_state(context_) != PA_CONTEXT_READY) {
      return false;
    }
    if (writesInFlight_ > 0) {
      nextWrite_ = request;
      haveNextWrite_ = true;
    } else if (!Write(request)) {
      return false;
    }
    // Cached in the same hold of the lock that queued it: racing callers leave the cache at
    // the request the server gets last.
    std::lock_guard stateLock(stateMutex_);
    if (state_ == request) return true;
    state_ = request;
    ++cacheVersion_;
  }
  ReportNewest();
  return true;
}

bool PulseVolumeControl::Write(const VolumeState& state) {
  // The sink's own channel map, scaled so the loudest channel gets the new level. By index,
  // so the volume always fits the sink it lands on (a one-channel volume would be taken by
  // pipewire-pulse as the left channel only).
  pa_cvolume volume = sinkVolume_;
  pa_cvolume_scale(&volume, VolumeOf(state.volume));
  pa_operation* setVolume = pa_context_set_sink_volume_by_index(
      context_, sinkIndex_, &volume, &PulseVolumeControl::OnWritten, this);
  pa_operation* setMute = pa_context_set_sink_mute_by_index(
      context_, sinkIndex_, state.muted != 0 ? 1 : 0, &PulseVolumeControl::OnWritten, this);
  writesInFlight_ += (setVolume != nullptr ? 1 : 0) + (setMute != nullptr ? 1 : 0);
  const bool sent = setVolume != nullptr && setMute != nullptr;
  if (!sent)
    LogError(std::string("sound server: cannot set the volume: ") +
             pa_strerror(pa_context_errno(context_)));
  Drop(setVolume);
  Drop(setMute);
  return sent;
}

void PulseVolumeControl::OnWritten(pa_context*, int, void* self) {
  auto* control = static_cast<PulseVolumeControl*>(self);
  if (--control->writesInFlight_ > 0 || !control->haveSink_) return;
  if (control->haveNextWrite_) {
    control->haveNextWrite_ = false;
    control->Write(control->nextWrite_);
    if (control->writesInFlight_ > 0) return;
  }
  // The last write is done (or failed): the readings held back meanwhile lagged, this one is
  // the truth, including a change another program made meanwhile.
  control->QueryDefaultSink();
}

void PulseVolumeControl::SetChangeCallback(VolumeChangeCallback callback, int32_t userData) {
  callback_.Set(callback, userData);
}

void PulseVolumeControl::ReportLoop() {
  std::unique_lock lock(stateMutex_);
  for (;;) {
    reportWanted_.wait(lock,
                       [this] { return stopReporting_ || reportPending_ || outputsPending_; });
    if (stopReporting_) return;
    if (outputsPending_) {
      outputsPending_ = false;
      const OutputList outputs = outputs_;
      lock.unlock();
      outputsCallback_.Report(outputs);
      lock.lock();
    }
    if (!reportPending_) continue;
    reportPending_ = false;
    lock.unlock();
    ReportNewest();
    lock.lock();
  }
}

void PulseVolumeControl::ReportNewest() {
  // Copied and reported under the report mutex: a report never overtakes a newer one with an
  // older state.
  std::lock_guard order(reportMutex_);
  VolumeState newest;
  {
    std::lock_guard lock(stateMutex_);
    if (reportedVersion_ == cacheVersion_) return;
    reportedVersion_ = cacheVersion_;
    newest = state_;
  }
  callback_.Report(newest);
}

void PulseVolumeControl::StopReporting() {
  if (!reporter_.joinable()) return;
  {
    std::lock_guard lock(stateMutex_);
    stopReporting_ = true;
  }
  reportWanted_.notify_all();
  reporter_.join();
}

bool PulseVolumeControl::Shutdown() {
  StopReporting();
  FlushWrites();
  Release();
  return true;
}

void PulseVolumeControl::FlushWrites() {
  // A client's last request, accepted and already reported to the others, should still land
  // when the program ends right after it; a frozen sound server must not hold up the end.
  const auto deadline = std::chrono::steady_clock::now() + kFlushLimit;
  for (;;) {
    {
      PulseLock lock(mainloop_);
      if (!WritesOutstanding() || context_ == nullptr ||
          pa_context_get_state(context_) != PA_CONTEXT_READY) {
        return;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      LogError("sound server: the last volume change was not confirmed within " +
               std::to_string(kFlushLimit.count()) + " ms; it may be lost");
      return;
    }
    // libpulse offers no timed wait on its mainloop; the flush is short and happens once.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PulseVolumeControl::Release() {
  if (mainloop_ == nullptr) return;
  {
    PulseLock lock(mainloop_);
    phase_ = Phase::Closing;
    if (reconnectTimer_ != nullptr) {
      pa_threaded_mainloop_get_api(mainloop_)->time_free(reconnectTimer_);
      reconnectTimer_ = nullptr;
    }
    CloseContext();
  }
  // Stopping joins the mainloop thread: no callback of ours runs after this line.
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
}

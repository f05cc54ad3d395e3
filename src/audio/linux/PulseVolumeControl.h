#pragma once
// The volume control on a sound server speaking the PulseAudio protocol (PulseAudio itself, or
// PipeWire through pipewire-pulse). The master volume is the default sink's loudest channel as
// a share of PA_VOLUME_NORM; writes scale every channel alike, so the balance is kept.
//
// Threads:
// - libpulse's mainloop thread runs our libpulse callbacks, with the mainloop lock held. They
//   ask for the default sink when an event concerns it, store what comes back in the cache and
//   wake the report thread; they never wait and never run the change callback.
// - The report thread, our own, runs the change callback with the newest cached state. While
//   the callback is busy (a broadcast over many clients) new readings replace each other, so
//   the next call gets the newest one, not a backlog. It also runs the outputs callback with
//   the newest list of sinks, in the same way.
// - SetState, from any thread: takes the mainloop lock, sends the volume and the mute write
//   and does not wait for the server. One pair of writes is in flight at a time; a request
//   made meanwhile waits as the one next pair, a newer one replacing it, so a client that
//   floods us never grows a queue and its last word lands. The request becomes the cached
//   state as it is queued, so racing callers leave the cache at the request that lands last,
//   and is reported on the calling thread once the mainloop lock is released: the other
//   clients need not wait for the server's round trip.
//
// While any of our writes is in flight or waiting, the server's readings lag behind the cache
// (the reading of request 40 arrives after 41 was reported) and are not reported. Once the
// last write is done the sink is read once more; that reading is the truth (a failed write, a
// change made by another program meanwhile) and is reported if it differs from the cache.
//
// The sinks are the output devices: their list and the server's default sink are read again
// when a sink comes or goes or the server's defaults change, never polled. Making one the
// default is one request that is not waited for; the server's change event then moves the
// volume to the new default as any other switch of the default does.
//
// A lost connection (the sound server restarted) is made again on the mainloop thread by a
// timer, with a growing pause; once the server is back, the default sink's state is reported as
// a change. Meanwhile SetState fails at once.
//
// Locks: the report mutex (held only around a report, so reports leave in the order the cache
// took their states), then the callback mutex, then the state mutex (a leaf, also taken under
// the mainloop lock). The mainloop lock is never taken with any of the three held. The outputs
// callback's own mutex is held by the report thread around that call alone, with no other.

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "audio/ChangeCallback.h"
#include "audio/IOutputDevices.h"
#include "audio/IVolumeControl.h"
#include "base/CallbackSlot.h"

class PulseVolumeControl final : public IVolumeControl, public IOutputDevices {
 public:
  PulseVolumeControl() = default;
  ~PulseVolumeControl() override;
  PulseVolumeControl(const PulseVolumeControl&) = delete;
  PulseVolumeControl& operator=(const PulseVolumeControl&) = delete;

  // NoInterface: no sound server took the connection. NoDevice: it has no default sink.
  // Failed: anything else, also a server that took the connection but did not answer within a
  // few seconds (stopped or hung).
  InitResult Initialize() override;
  bool Shutdown() override;
  bool GetState(VolumeState* state) override;
  // True when the writes were sent or will follow the pair in flight; the request is then
  // reported before this returns, unless it equals the cached state. False without a
  // connection or a known sink, and nothing is reported.
  bool SetState(const VolumeState* state) override;
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override;
  IOutputDevices* OutputDevices() override { return this; }

  // The sinks. Empty, without a choice, while the sound server is away. The outputs callback
  // runs on the report thread.
  OutputList List() override;
  bool MakeDefault(const std::string& id) override;
  void SetOutputsCallback(OutputsChangedCallback callback) override;

  // Pauses between reconnection attempts: the first, doubling up to the longest.
  static constexpr pa_usec_t kFirstReconnectPauseUsec = 100 * PA_USEC_PER_MSEC;
  static constexpr pa_usec_t kLongestReconnectPauseUsec = 2 * PA_USEC_PER_SEC;
  // How long Shutdown waits for writes still in flight: long enough for a busy sound server
  // (a loaded machine stalls it for a few hundred milliseconds), short enough that a frozen one
  // does not hold up the end.
  static constexpr std::chrono::milliseconds kFlushLimit{500};

 private:
  enum class Phase { Starting, Running, Closing };

  static void OnContextState(pa_context* context, void* self);
  static void OnSubscribed(pa_context* context, int success, void* self);
  static void OnEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                      void* self);
  static void OnSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
  static void OnWritten(pa_context* context, int success, void* self);
  static void OnServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void OnSinkListed(pa_context* context, const pa_sink_info* info, int eol, void* self);
  static void OnDefaultSet(pa_context* context, int success, void* self);
  static void OnReconnectTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                               void* self);
  static void OnStartDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                              void* self);

  // The rest runs with the mainloop lock held.
  InitResult Start();
  bool OpenContext();
  void CloseContext();
  void SubscribeAndRead();
  void QueryDefaultSink();
  void ReadOutputs();
  void PublishOutputs(OutputList outputs);
  void ScheduleReconnect();
  bool Write(const VolumeState& state);
  void Signal() { pa_threaded_mainloop_signal(mainloop_, 0); }
  // A reading taken with none of our writes outstanding: the truth, cached and reported when
  // it differs from the cache (or when `always`).
  void Publish(const VolumeState& reading, bool always);
  bool WritesOutstanding() const { return writesInFlight_ > 0 || haveNextWrite_; }

  // Any thread holding no lock of ours: reports the cached state unless it was reported.
  void ReportNewest();
  void ReportLoop();
  void StopReporting();
  // Owning thread, without the lock: waits (at most kFlushLimit) for our writes to be answered.
  void FlushWrites();
  // Owning thread, without the lock: ends the connection and the mainloop thread.
  void Release();

  pa_threaded_mainloop* mainloop_ = nullptr;  // owning thread

  // Guarded by the mainloop lock.
  pa_context* context_ = nullptr;
  Phase phase_ = Phase::Starting;
  InitResult startError_ = InitResult::Ok;
  bool startExpired_ = false;
  bool reachedServer_ = false;  // the connection got past connecting
  pa_time_event* reconnectTimer_ = nullptr;
  pa_usec_t reconnectPause_ = kFirstReconnectPauseUsec;
  bool reportNext_ = false;  // after a reconnection the first reading is news
  bool haveSink_ = false;
  uint32_t sinkIndex_ = PA_INVALID_INDEX;
  pa_cvolume sinkVolume_{};
  int writesInFlight_ = 0;
  bool haveNextWrite_ = false;
  VolumeState nextWrite_;
  OutputList readingOutputs_;  // the list being read: the server's default, then each sink

  std::mutex reportMutex_;
  ChangeCallback callback_;
  std::mutex stateMutex_;
  std::condition_variable reportWanted_;
  VolumeState state_;             // guarded by stateMutex_
  uint64_t cacheVersion_ = 0;     // guarded by stateMutex_: counts the cache's changes
  uint64_t reportedVersion_ = 0;  // guarded by stateMutex_, written under the report mutex
  bool reportPending_ = false;    // guarded by stateMutex_
  bool stopReporting_ = false;    // guarded by stateMutex_
  OutputList outputs_;            // guarded by stateMutex_
  bool outputsPending_ = false;   // guarded by stateMutex_: outputs_ not yet reported
  CallbackSlot<OutputList> outputsCallback_;
  std::thread reporter_;
};

#pragma once
// The endpoint device on a sound server speaking the PulseAudio protocol (PulseAudio itself,
// or PipeWire through pipewire-pulse). The default playback device is the server's default
// sink; its master scalar is the sink's loudest channel as a fraction of PA_VOLUME_NORM, and
// writes scale all channels alike so the balance is kept.
//
// Threads: libpulse runs our callbacks on its mainloop thread with the mainloop lock held; they
// only queue work. Notifications reach the target on a thread of our own that holds no lock,
// so a change callback may block on anything (a reader thread's SetState included) without
// ever holding up the mainloop.
//
// While notifications are registered, a lost connection (the sound server restarted) is made
// again by the notification thread, with a growing pause between attempts; once it is back, the
// default sink's state is delivered as a notification. Until then reads and writes fail.
//
// Lock order: connectionMutex_ (shared for every use of the connection, exclusive to replace
// it), then the mainloop lock, then queueMutex_.

#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>

#include "audio/IEndpointDevice.h"
#include "audio/linux/PulseConnection.h"

class PulseEndpointDevice final : public IEndpointDevice {
 public:
  PulseEndpointDevice() = default;
  ~PulseEndpointDevice() override;

  bool CreateEnumerator() override;
  bool GetDefaultRenderEndpoint() override;
  bool ActivateEndpointVolume() override;
  void ReleaseDevice() override {}
  void ReleaseEnumerator() override;
  bool GetMute(bool* muted) override;
  bool GetMasterScalar(float* scalar) override;
  bool SetMasterScalar(float scalar) override;
  bool SetMute(bool muted) override;
  bool RegisterNotify(IEndpointNotifyTarget* target) override;
  bool UnregisterNotify(IEndpointNotifyTarget* target) override;
  bool ReleaseEndpointVolume() override;

  // Pauses between reconnection attempts: the first, doubling up to the longest.
  static constexpr std::chrono::milliseconds kFirstReconnectPause{100};
  static constexpr std::chrono::milliseconds kLongestReconnectPause{2000};

 private:
  struct SinkReading;
  static void OnSubscriptionEvent(pa_context* context, pa_subscription_event_type_t type,
                                  uint32_t index, void* self);
  static void OnNotifySinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
  static void OnConnectionLost(void* self);

  // Lock held. Reads the default sink into `reading`.
  bool ReadDefaultSink(SinkReading* reading);
  // Takes connectionMutex_ (shared) and the mainloop lock, then reads the default sink. False
  // without a connection, or on the mainloop thread (waiting there would never return).
  bool ReadDefaultSinkNow(SinkReading* reading);
  // Owning thread. Ends the notification thread and the connection.
  void CloseConnection();
  // Lock held. Asks for the default sink's state on behalf of the notification thread.
  void RequestNotification();
  // connectionMutex_ (any mode) and the mainloop lock held. Subscribes to sink and server
  // events and asks for the current state; false when the server refused.
  bool Subscribe();
  // Notification thread. Connects again and subscribes; false to try again later.
  bool Reconnect();
  void Enqueue(const EndpointNotification& notification);
  void NotifyLoop(IEndpointNotifyTarget* target);
  void StopNotifyThread();
  void ReleaseConnectionIfUnused();

  std::shared_mutex connectionMutex_;
  PulseConnection connection_;   // replaced only under connectionMutex_ held exclusively
  bool enumeratorHeld_ = false;  // owning thread only
  bool volumeHeld_ = false;      // owning thread only

  // Guarded by the mainloop lock.
  bool notifying_ = false;
  uint32_t defaultSinkIndex_ = PA_INVALID_INDEX;
  bool haveLastReported_ = false;
  bool lastMuted_ = false;
  pa_cvolume lastVolume_{};

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  // The newest reading not yet delivered; a newer one replaces it, so the final state is never
  // lost. Only one: while the change callback is busy (a broadcast over 1,000 clients takes
  // milliseconds) only the newest reading is worth delivering next; a queue made clients hear
  // the final state only after a backlog of stale broadcasts (2.3 s behind a burst, against
  // 36 ms with one). Guarded by queueMutex_.
  std::optional<EndpointNotification> pending_;
  bool stopNotify_ = false;              // guarded by queueMutex_
  bool reconnectWanted_ = false;         // guarded by queueMutex_
  std::atomic<bool> registered_{false};  // notifications wanted (set by Register/Unregister)
  std::thread notifyThread_;
};

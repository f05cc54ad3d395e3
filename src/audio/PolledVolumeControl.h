#pragma once
// A volume control over a mixer that tells nothing by itself (ALSA's simple mixer, the
// multimedia mixer), so the main thread polls it: 20 ms after a change, doubling while nothing
// changes, at most 250 ms. This part keeps the cached state, the change callback, the poll
// period and the process's poll target; a backend adds how its device is opened, read and
// written.
//
// Threads: the poll timer's tick (Poll, ReadDevice), StartPolling, StopPolling,
// SetChangeCallback and the change callback run on the main thread; GetState on any thread.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/ChangeCallback.h"
#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"

class PolledVolumeControl : public IVolumeControl {
 public:
  static constexpr uint32_t kFirstPollIntervalMs = 20;
  static constexpr uint32_t kLongestPollIntervalMs = 250;

  PolledVolumeControl(const PolledVolumeControl&) = delete;
  PolledVolumeControl& operator=(const PolledVolumeControl&) = delete;

  // The cached state under its mutex; never touches the device.
  bool GetState(VolumeState* state) final;
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) final;

  // The poll timer's procedure: polls the poll target, if there is one.
  static void PollTimerProc();
  // The process-wide object the poll timer drives (null when there is none).
  static PolledVolumeControl* PollTarget();
  // One tick of change detection. A reading that differs is cached and reported; one that
  // failed is no news (treating it as one would broadcast a state nobody set), and the period
  // backs off as when nothing changed.
  void Poll();

 protected:
  // Installs the new object as the poll target. `timer` must outlive the object.
  explicit PolledVolumeControl(IPollTimer& timer);
  // Clears the poll target if it is this object.
  ~PolledVolumeControl() override;

  // From Initialize: caches the first reading, told to nobody, and arms the first tick.
  void StartPolling(const VolumeState& first);
  // From Shutdown: no tick reads the device after this.
  void StopPolling();
  // Reads the device; false when it could not be read.
  virtual bool ReadDevice(VolumeState* state) = 0;

 private:
  IPollTimer& timer_;
  std::mutex stateMutex_;  // guards state_; never held while the callback reports
  VolumeState state_;
  ChangeCallback callback_;
  uint32_t intervalMs_ = kFirstPollIntervalMs;  // main thread only
  bool stopped_ = false;                        // main thread only

  static std::atomic<PolledVolumeControl*> pollTarget_;
};

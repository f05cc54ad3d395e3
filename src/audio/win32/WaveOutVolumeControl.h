#pragma once
// The volume control over destination 0 of mixer 0, polled on the main thread's poll timer:
// 20 ms after a change, doubling while nothing changes, at most 250 ms.

#include <atomic>
#include <memory>

#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"
#include "audio/PolledState.h"
#include "audio/win32/IMixerDevice.h"

class WaveOutVolumeControl final : public IVolumeControl {
 public:
  // Installs the new object as the poll target. `timer` must outlive the object.
  WaveOutVolumeControl(std::unique_ptr<IMixerDevice> device, IPollTimer& timer);
  // Clears the poll target if it is this object.
  ~WaveOutVolumeControl() override;

  InitResult Initialize() override;
  bool Shutdown() override;
  bool GetState(VolumeState* state) override;
  bool SetState(const VolumeState* state) override;
  void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override;

  // The poll timer's procedure: polls the poll target, if there is one. Main thread.
  static void PollTimerProc();
  // The process-wide object the poll timer drives (null when there is none).
  static WaveOutVolumeControl* PollTarget();

  // One tick of change detection. Main thread.
  void Poll();

 private:
  bool ReadDeviceState(VolumeState* state);

  std::unique_ptr<IMixerDevice> device_;
  IPollTimer& timer_;
  bool stopped_ = false;  // main thread only
  // Written by Initialize before any other thread can reach the object; read-only afterwards.
  uint32_t volumeControlId_ = 0xFFFFFFFF;
  int32_t volumeMinimum_ = 0;
  int32_t volumeMaximum_ = 0;
  uint32_t muteControlId_ = 0xFFFFFFFF;
  PolledState polled_;

  static std::atomic<WaveOutVolumeControl*> pollTarget_;
};

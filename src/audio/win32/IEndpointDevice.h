#pragma once
// The default playback device as the endpoint backend sees it: its master volume as a scalar
// 0.0..1.0 and its mute switch, with change notifications delivered on a thread of the audio
// system. Every call reports failure by its result; nothing throws.

#include <cstdint>

// What one change notification carries. Only these two fields are looked at.
struct EndpointNotification {
  int32_t muted = 0;          // non-zero means muted
  float masterVolume = 1.0f;  // 0.0..1.0
};

// Result codes of the notification target (the platform's own values, kept for its adapter).
constexpr int32_t kNotifyOk = 0;                                         // S_OK
constexpr int32_t kNotifyInvalidArg = static_cast<int32_t>(0x80070057);  // E_INVALIDARG

// Receives notifications: on a thread of the audio system, or of the device's own when it
// reports the state of a newly bound default device; one at a time; none after UnregisterNotify
// returned.
class IEndpointNotifyTarget {
 public:
  virtual ~IEndpointNotifyTarget() = default;
  virtual int32_t OnNotify(const EndpointNotification* notification) = 0;
};

// Main thread for the set-up and tear-down calls (in the order the backend makes them);
// GetMute/GetMasterScalar also on the main thread during Initialize; SetMasterScalar/SetMute
// from any reader thread, several at once.
class IEndpointDevice {
 public:
  virtual ~IEndpointDevice() = default;

  // Reach the audio system's device enumerator. False: the audio system is not there.
  virtual bool CreateEnumerator() = 0;
  // Select the default playback device for the console role. False: there is none.
  virtual bool GetDefaultRenderEndpoint() = 0;
  // Take the selected device's volume interface. False on failure.
  virtual bool ActivateEndpointVolume() = 0;
  // Drop the device / the enumerator once they are no longer needed (or after a failure).
  virtual void ReleaseDevice() = 0;
  virtual void ReleaseEnumerator() = 0;

  virtual bool GetMute(bool* muted) = 0;
  virtual bool GetMasterScalar(float* scalar) = 0;
  virtual bool SetMasterScalar(float scalar) = 0;
  virtual bool SetMute(bool muted) = 0;

  // Start / stop delivering notifications to `target`. While registered, the device follows
  // the default playback device: a new default is bound (SetMasterScalar and SetMute go to it)
  // and its state is delivered once as a notification. After UnregisterNotify returns no
  // notification is running or will start.
  virtual bool RegisterNotify(IEndpointNotifyTarget* target) = 0;
  virtual bool UnregisterNotify(IEndpointNotifyTarget* target) = 0;
  // Release the volume interface. False when other references to it remained. Called by
  // Shutdown, and by Initialize when a step after ActivateEndpointVolume failed (the backend is
  // then destroyed without Shutdown).
  virtual bool ReleaseEndpointVolume() = 0;
};

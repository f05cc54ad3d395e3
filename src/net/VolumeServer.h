#pragma once
// The one composition of the network server, the relay and a volume control, as start-up and
// every test fixture build it: the server greets clients with the control's state and passes
// their requests to the relay; the relay applies them to the control and broadcasts the
// control's changes through the change callback OnVolumeChanged.
//
// Main thread for every call. Threads and locks: see NetworkServer.h and VolumeRelay.h. The
// volume control and the retry timer must outlive this object.

#include <cstdint>

#include "audio/IVolumeControl.h"
#include "net/IClock.h"
#include "net/IRetryTimer.h"
#include "net/NetworkServer.h"
#include "net/VolumeRelay.h"

class VolumeServer {
 public:
  VolumeServer(IClock& clock, IRetryTimer& retryTimer);
  // Unregisters the change callback and stops the server. Readers that a bounded stop left
  // inside the volume control are waited for, the relay still in place under them.
  ~VolumeServer();
  VolumeServer(const VolumeServer&) = delete;
  VolumeServer& operator=(const VolumeServer&) = delete;

  // While the server is stopped and no callback is registered: the control that new clients are
  // offered and that their requests change. Null disconnects.
  void Connect(IVolumeControl* control);
  // Registers OnVolumeChanged (user data 0) on the connected control, with this relay as the
  // one it reaches. After BindAndListen and before Start, so no change after a client's
  // greeting is missed.
  void RegisterChangeCallback();
  // Before the server stops; waits for a callback running on another thread. Once it returns,
  // the relay is no longer called from the volume control.
  void UnregisterChangeCallback();

  // For fixtures: Connect, BindAndListen(port), RegisterChangeCallback and Start, in the order
  // of start-up. The port listened on (port 0 asks the system), 0 when a step failed.
  uint16_t Serve(IVolumeControl* control, uint16_t port = 0);

  NetworkServer& Server() { return server_; }
  MyClientListener& Relay() { return relay_; }

 private:
  // The relay is declared first so that it outlives the server, whose destructor waits for
  // readers that may still be inside the relay.
  MyClientListener relay_;
  NetworkServer server_;
  IVolumeControl* control_ = nullptr;
  bool registered_ = false;
};

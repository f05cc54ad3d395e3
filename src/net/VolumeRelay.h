#pragma once
// Client requests to the volume control; system changes to every client. The one place where
// a client's request meets the volume control. Wired to the server by VolumeServer.

#include <atomic>

#include "audio/IVolumeControl.h"
#include "net/IClientListener.h"
#include "net/IRetryTimer.h"
#include "net/NetworkServer.h"

class MyClientListener : public IClientListener {
 public:
  // Keeps both references; uses neither before SetVolumeControl (so `server` may still be under
  // construction).
  MyClientListener(NetworkServer& server, IRetryTimer& retryTimer);

  // Main thread, while no reader, broadcast or change callback can run. The control requests go
  // to and broadcasts read; null: requests are dropped and nothing is broadcast.
  void SetVolumeControl(IVolumeControl* control);

  // Reader thread: applies the request to the volume control; its result is not reported.
  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override;
  // Reader thread: does nothing, takes no lock (the server's reaping relies on it).
  void OnClientDisconnected(ClientConnection* connection) override;

  // Any thread holding no lock of ours but a backend's callback mutex. Offers the current state
  // to every client; a client whose socket cannot take the byte at once is shut down. True when
  // one was deferred.
  bool BroadcastState();
  // Main thread. Sends the keep-alive byte to every client, ignoring the hold-off.
  void SendKeepAlive();
  // Any thread, as BroadcastState. Runs a broadcast and arms the retry timer when it deferred a
  // client.
  void OnVolumeChanged();

 private:
  // One pass of `state` over every listed client; sets `deferred` when a client was held off.
  void Pass(const VolumeState& state, std::atomic<bool>& deferred);
  NetworkServer& server_;
  IRetryTimer& retryTimer_;
  IVolumeControl* control_ = nullptr;
};

// The change callback registered on the volume control. Reaches the relay named by
// SetVolumeChangedRelay (the process-wide one); both arguments are ignored. Does nothing while
// no relay is set. SetVolumeChangedRelay: main thread, any time.
void OnVolumeChanged(int32_t userData, const VolumeState* state);
void SetVolumeChangedRelay(MyClientListener* relay);

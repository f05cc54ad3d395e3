#pragma once
// Client requests to the volume control; system changes to every client. The one place where
// a client's request meets the volume control. Wired to the server by VolumeServer.

#include <atomic>

#include "audio/IVolumeControl.h"
#include "net/IClientListener.h"
#include "net/IRetryTimer.h"
#include "net/server/NetworkServer.h"

class MyClientListener : public IClientListener {
 public:
  // Keeps both references; uses neither before SetVolumeControl (so `server` may still be under
  // construction).
  MyClientListener(NetworkServer& server, IRetryTimer& retryTimer);

  // Main thread, while no reader, broadcast or change callback can run. The control requests go
  // to and broadcasts read; null: requests are dropped and nothing is broadcast.
  void SetVolumeControl(IVolumeControl* control);

  // Reader thread: applies the request to the volume control. When that fails, the
  // requesting client is told the true state once its hold-off ends (the retry is armed).
  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override;
  // Reader thread: does nothing, takes no lock (the server's reaping relies on it).
  void OnClientDisconnected(ClientConnection* connection) override;

  // Any thread holding no lock of ours but a backend's callback mutex. Offers the current state
  // to every client; a client whose socket cannot take the byte at once is shut down. True when
  // one was deferred; `retryInMs` (when given) then receives when the earliest hold-off of the
  // deferred clients ends, plus 1 ms.
  bool BroadcastState(uint32_t* retryInMs = nullptr);
  // Main thread. Sends the keep-alive byte to every client, ignoring the hold-off.
  void SendKeepAlive();
  // Any thread, as BroadcastState; also the retry's tick. Runs a broadcast and arms the retry
  // timer for the end of the earliest hold-off when it deferred a client.
  void OnVolumeChanged();

 private:
  // One pass of `state` over every listed client; lowers `holdOffLeftMs` to the shortest
  // hold-off left of the clients it deferred (it stays above HOLD_OFF_MS when none was).
  void Pass(const VolumeState& state, std::atomic<uint32_t>& holdOffLeftMs);
  NetworkServer& server_;
  IRetryTimer& retryTimer_;
  IVolumeControl* control_ = nullptr;
};

// The change callback registered on the volume control. Reaches the relay named by
// SetVolumeChangedRelay (the process-wide one); both arguments are ignored. Does nothing while
// no relay is set. SetVolumeChangedRelay: main thread, any time.
void OnVolumeChanged(int32_t userData, const VolumeState* state);
void SetVolumeChangedRelay(MyClientListener* relay);

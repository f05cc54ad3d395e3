#pragma once
// The in-process server as start-up wires it: the network server, the relay as its external
// listener and change callback, a scriptable volume control and a counting retry timer.

#include "fakes/FakeRetryTimer.h"
#include "fakes/FakeVolumeControl.h"
#include "net/IClock.h"
#include "net/VolumeServer.h"

struct RelayedServer {
  // Loads and benchmarks hold more clients than the everyday bound.
  RelayedServer() { wired.Configure({}, {false, {}, kHeldClientsBound}); }
  // Binds an ephemeral port and starts; the port, or 0 on failure.
  uint16_t Listen() { return wired.Serve(&volume); }

  FakeVolumeControl volume;
  FakeRetryTimer retryTimer;
  VolumeServer wired{SystemClock(), retryTimer};
  NetworkServer& server = wired.Server();
  MyClientListener& relay = wired.Relay();
  static constexpr size_t kHeldClientsBound = 100000;
};

#pragma once
// The in-process server as start-up wires it: the network server, the relay as its external
// listener and change callback, a scriptable volume control and a counting retry timer.

#include "fakes/FakeRetryTimer.h"
#include "fakes/FakeVolumeControl.h"
#include "net/IClock.h"
#include "net/NetworkServer.h"
#include "net/VolumeRelay.h"

struct RelayedServer {
  RelayedServer() : server(SystemClock()), relay(server, retryTimer) {
    server.SetStateSource(&volume);
    server.SetExternalListener(&relay);
    SetVolumeChangedRelay(&relay);
    volume.SetChangeCallback(&OnVolumeChanged, 0);
    // Loads and benchmarks hold more clients than the everyday bound.
    server.SetAccessPolicy({false, {}, kHeldClientsBound});
  }
  ~RelayedServer() {
    volume.SetChangeCallback(nullptr, 0);
    server.Stop();
    SetVolumeChangedRelay(nullptr);
  }
  RelayedServer(const RelayedServer&) = delete;
  RelayedServer& operator=(const RelayedServer&) = delete;

  // Binds an ephemeral port and starts; the port, or 0 on failure.
  uint16_t Listen() {
    if (!server.BindAndListen(0) || !server.Start()) return 0;
    return server.ListeningPort();
  }

  FakeVolumeControl volume;
  FakeRetryTimer retryTimer;
  NetworkServer server;
  MyClientListener relay;
  static constexpr size_t kHeldClientsBound = 100000;
};

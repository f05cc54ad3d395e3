#pragma once
#include "base/VolumeState.h"

struct ClientConnection;

// Receives a connection's events, on that connection's reader thread, with no lock held.
class IClientListener {
 public:
  virtual ~IClientListener() = default;
  // The client asked for `state` (valid only during the call).
  virtual void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) = 0;
  // The client's stream ended. Exactly once per connection, before its socket is closed.
  virtual void OnClientDisconnected(ClientConnection* connection) = 0;
};

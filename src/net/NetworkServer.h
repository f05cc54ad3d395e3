#pragma once
// The listening socket, the accept thread and every client connection.
// (Public surface used by the shell and the relay; the net module owns the rest.)

#include <cstdint>

#include "audio/IVolumeControl.h"
#include "net/IClientListener.h"
#include "net/IClock.h"

class NetworkServer : public IClientListener {
 public:
  explicit NetworkServer(IClock& clock);
  ~NetworkServer() override;

  // Main thread, before Start; not changed while the accept thread runs.
  void SetStateSource(IVolumeControl* source);
  void SetExternalListener(IClientListener* listener);
  IVolumeControl* StateSource() const;

  // Main thread. Only on a server that never ran or was stopped.
  bool BindAndListen(uint16_t port);
  // Main thread. Starts the accept thread.
  bool Start();
  // Main thread. Ends the accept thread and every connection, joins every thread, closes the
  // listening socket. BindAndListen + Start may follow.
  void Stop();

  // The port the listening socket is bound to, 0 when there is none (port 0 asks the system).
  uint16_t ListeningPort() const;

  void OnVolumeReceived(ClientConnection* connection, const VolumeState* state) override;
  void OnClientDisconnected(ClientConnection* connection) override;
};

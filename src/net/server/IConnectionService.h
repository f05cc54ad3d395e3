#pragma once
// What a listening socket serves. The server accepts on it, lets the gate decide and sets the
// connection's socket options; the listener's service takes the connection from there. The
// byte protocol is the server's own; the control page brings its own (net/page/PageService.h).

#include "net/Socket.h"

class IConnectionService {
 public:
  virtual ~IConnectionService() = default;
  // The listener's accept thread, for every connection the gate admitted. Takes `accepted`:
  // closes it or hands it on (to NetworkServer::ServeTransport). Returns soon: the next client
  // of this listener waits meanwhile.
  virtual void ServeAccepted(SocketHandle accepted) = 0;
};

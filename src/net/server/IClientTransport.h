#pragma once
// How a connection that is not a plain byte-protocol socket carries the same bytes (the control
// page's WebSocket). A byte-protocol client has none: the server sends on its socket directly,
// which keeps the common path to one branch.

#include <cstddef>
#include <cstdint>

struct ClientConnection;

class IClientTransport {
 public:
  virtual ~IClientTransport() = default;
  // Any thread; while the connection is listed, under the server mutex. Never blocks: queues
  // `data` (at most 4 bytes, one protocol item) as one message. False when the transport has
  // ended or its client has fallen too far behind to take more, as a full socket buffer.
  virtual bool Send(const uint8_t* data, size_t length) = 0;
  // Any thread; while the connection is listed, under the server mutex. Ends the connection
  // soon: Serve returns. Never blocks.
  virtual void Shutdown() = 0;
  // The connection's reader thread, once. Runs the connection until it ends: calls the
  // connection's `opened` once it carries the byte protocol, then passes each received byte to
  // HandleClientByte. Returns with the transport ended; the caller then reports the end to the
  // listeners and frees the transport.
  virtual void Serve(ClientConnection* connection) = 0;
};

#pragma once
// One accepted client: its socket, its reader thread and the two fields that decide whether a
// state byte is due to it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "base/VolumeState.h"
#include "net/IClientListener.h"
#include "net/IClock.h"
#include "net/Socket.h"
#include "net/Thread.h"
#include "net/server/IClientTransport.h"

// Reader threads do little: receive a byte, take a mutex, call the listeners (the relay calls
// the volume control). A small stack keeps 10,000 clients affordable.
constexpr size_t kReaderStackSize = 128 * 1024;

struct ClientConnection {
  ClientConnection(SocketHandle accepted, IClock& clock) : socket(accepted), clock(&clock) {}

  // Set before the reader starts and never changed afterwards (read without a lock).
  // Told of every request, then of the end: the relay. May be null.
  IClientListener* listener = nullptr;
  // Called last when the stream ended, after the listener and before the socket is closed: the
  // server retires the connection here. May be empty.
  std::function<void(ClientConnection*)> ended;
  // For a connection a transport carries: called by the transport on the reader thread once
  // it carries the byte protocol, before anything is read through it; the server greets and
  // lists the connection here. Whatever it sends leaves before any later send. May be empty.
  std::function<void(ClientConnection*)> opened;
  // Started by the accept thread, joined by the server's reaper.
  Thread readerThread;
  // Set under the server mutex by the thread that started the reader, once `readerThread` holds
  // it. The reader may end and retire the connection before then, and another listener's accept
  // thread may reap meanwhile: it must leave such a connection for a later reap.
  bool readerStarted = false;
  // Closed by the reader thread when it ends. Senders use it only while the connection is
  // listed, under the server mutex. Empty when a transport carries the connection.
  Socket socket;
  // Null for a byte-protocol client. Set before the reader starts, freed by the reader when it
  // ends; used by senders under the same rule as `socket`.
  std::unique_ptr<IClientTransport> transport;
  IClock* clock;

  // Guards the fields below; never held while sending, never held with another lock taken
  // after it.
  std::mutex mutex;
  VolumeState lastState;  // last received from or sent to the client: what it believes
  uint32_t lastReceivedTime = 0;
  // A client that has never asked for a state is never inside its hold-off, whatever the clock
  // reads (it may read below HOLD_OFF_MS just after boot or after the count wraps).
  bool hasReceived = false;
  // The last state byte written to the client, and when. The greeting's state (unmuted 100, or
  // the byte sent with it) is not counted as sent: a client reads it with the greeting.
  VolumeState lastSent;
  uint32_t lastSentTime = 0;
  bool hasSent = false;
  // The last request came less than HOLD_OFF_MS after a different byte was written: the two may
  // have crossed on the wire, and the client may believe that byte rather than its request.
  bool requestCrossedSend = false;
};

enum class SendStateResult { Done, Deferred, SendFailed };

// Any thread; takes the connection's mutex only. Sends `state` unless the client already has it
// (Done) or asked for a state less than HOLD_OFF_MS ago (Deferred). After a request that may
// have crossed a written byte, the client has `state` only when both equal it. The send never
// blocks: a byte the socket cannot take at once is SendFailed. On Deferred, `holdOffLeftMs` (when
// given) receives how long the hold-off has still to run, 1 to HOLD_OFF_MS.
SendStateResult SendStateIfDue(ClientConnection* connection, const VolumeState* state,
                               uint32_t* holdOffLeftMs = nullptr);

// Any thread, under the same rule as using `socket`. Sends one protocol item without blocking,
// on the socket or through the transport; true when all of it was taken.
inline bool SendToClient(ClientConnection* connection, const uint8_t* data, size_t length) {
  if (connection->transport == nullptr) {
    return SendNow(connection->socket.Get(), data, length) == static_cast<int>(length);
  }
  return connection->transport->Send(data, length);
}

// Under the same rule as using `socket`, before any other send. Sends the greeting and, unless
// it is the unmuted 100 a greeting implies, `state`, which the client then has.
void GreetClient(ClientConnection* connection, const VolumeState& state);

// Any thread, under the same rule as using `socket`. Ends the connection: its reader sees the
// end of the stream and reports it as usual.
void ShutdownClient(ClientConnection* connection);

// Reader thread. Handles one received byte: drops a keep-alive, records a state request and
// passes it to the listener. False for an invalid byte, which ends the connection.
bool HandleClientByte(ClientConnection* connection, uint8_t byte);

// The reader thread's procedure (parameter: the ClientConnection). Receives from the socket, or
// lets the transport serve the connection, and on the end of the stream tells the listener and
// `ended`, then closes the socket and frees the transport.
void ReadLoop(void* connection);

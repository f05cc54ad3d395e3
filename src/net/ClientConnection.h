#pragma once
// One accepted client: its socket, its reader thread and the two fields that decide whether a
// state byte is due to it.

#include <cstdint>
#include <mutex>
#include <vector>

#include "base/VolumeState.h"
#include "net/IClientListener.h"
#include "net/IClock.h"
#include "net/Socket.h"
#include "net/Thread.h"

// Reader threads do little: receive a byte, take a mutex, call the listeners (the relay calls
// the volume control). A small stack keeps 10,000 clients affordable.
constexpr size_t kReaderStackSize = 128 * 1024;

struct ClientConnection {
  ClientConnection(SocketHandle accepted, IClock& clock) : socket(accepted), clock(&clock) {}

  // Filled before the reader starts and never changed afterwards (read without a lock).
  std::vector<IClientListener*> listeners;
  // Started by the accept thread, joined by the server's reaper.
  Thread readerThread;
  // Closed by the reader thread when it ends. Senders use it only while the connection is
  // listed, under the server mutex.
  Socket socket;
  IClock* clock;

  // Guards the three fields below; never held while sending, never held with another lock
  // taken after it.
  std::mutex mutex;
  VolumeState lastState;  // last received from or sent to the client
  uint32_t lastReceivedTime = 0;
  // A client that has never asked for a state is never inside its hold-off, whatever the clock
  // reads (it may read below HOLD_OFF_MS just after boot or after the count wraps).
  bool hasReceived = false;
};

enum class SendStateResult { Done, Deferred, SendFailed };

// Any thread; takes the connection's mutex only. Sends `state` unless the client already has it
// (Done) or asked for a state less than HOLD_OFF_MS ago (Deferred). The send never blocks: a
// byte the socket cannot take at once is SendFailed. On Deferred, `holdOffLeftMs` (when given)
// receives how long the hold-off has still to run, 1 to HOLD_OFF_MS.
SendStateResult SendStateIfDue(ClientConnection* connection, const VolumeState* state,
                               uint32_t* holdOffLeftMs = nullptr);

// The reader thread's procedure (parameter: the ClientConnection). Records and passes on each
// state request, and on the end of the stream tells the listeners and closes the socket.
void ReadLoop(void* connection);

#include "net/server/ClientConnection.h"

#include "net/Protocol.h"

SendStateResult SendStateIfDue(ClientConnection* connection, const VolumeState* state,
                               uint32_t* holdOffLeftMs) {
  {
    std::lock_guard lock(connection->mutex);
    if (connection->lastState == *state &&
        (!connection->requestCrossedSend || connection->lastSent == *state)) {
      return SendStateResult::Done;
    }
    const uint32_t now = connection->clock->NowMs();
    const uint32_t quietMs = now - connection->lastReceivedTime;
    if (connection->hasReceived && quietMs < HOLD_OFF_MS) {
      if (holdOffLeftMs != nullptr) *holdOffLeftMs = HOLD_OFF_MS - quietMs;
      return SendStateResult::Deferred;
    }
    connection->lastState = connection->lastSent = *state;
    connection->lastSentTime = now;
    connection->hasSent = true;
    connection->requestCrossedSend = false;
  }
  const uint8_t byte = EncodeStateByte(*state);
  return SendToClient(connection, &byte, 1) ? SendStateResult::Done : SendStateResult::SendFailed;
}

void GreetClient(ClientConnection* connection, const VolumeState& state) {
  SendToClient(connection, kGreeting.data(), kGreeting.size());
  {
    std::lock_guard lock(connection->mutex);
    if (connection->lastState == state) return;
    connection->lastState = connection->lastSent = state;
  }
  const uint8_t byte = EncodeStateByte(state);
  SendToClient(connection, &byte, 1);
}

void ShutdownClient(ClientConnection* connection) {
  if (connection->transport == nullptr) {
    ShutdownBoth(connection->socket.Get());
  } else {
    connection->transport->Shutdown();
  }
}

namespace {

void RecordRequest(ClientConnection* connection, const VolumeState& request) {
  std::lock_guard lock(connection->mutex);
  const uint32_t now = connection->clock->NowMs();
  // A byte written just before may have been on its way while the client sent this request;
  // which of the two it read last, it alone knows.
  connection->requestCrossedSend = connection->hasSent && connection->lastSent != request &&
                                   now - connection->lastSentTime < HOLD_OFF_MS;
  connection->lastState = request;
  connection->lastReceivedTime = now;
  connection->hasReceived = true;
}

}  // namespace

bool HandleClientByte(ClientConnection* connection, uint8_t byte) {
  VolumeState request;
  const ClientByteKind kind = DecodeClientByte(byte, &request);
  if (kind == ClientByteKind::KeepAlive) return true;
  if (kind == ClientByteKind::Invalid) return false;
  RecordRequest(connection, request);
  if (connection->listener != nullptr) connection->listener->OnVolumeReceived(connection, &request);
  return true;
}

void ReadLoop(void* parameter) {
  auto* connection = static_cast<ClientConnection*>(parameter);
  if (connection->transport != nullptr) {
    connection->transport->Serve(connection);
  } else {
    uint8_t byte = 0;
    while (ReceiveByte(connection->socket.Get(), &byte) == 1 &&
           HandleClientByte(connection, byte)) {
    }
  }
  if (connection->listener != nullptr) connection->listener->OnClientDisconnected(connection);
  if (connection->ended) connection->ended(connection);
  // Unlisted now, so no sender uses either any more. Their descriptors go at once: the reaper
  // frees the record only at a later accept or stop.
  connection->socket.Reset();
  connection->transport.reset();
}

#include "net/ClientConnection.h"

#include "net/Protocol.h"

SendStateResult SendStateIfDue(ClientConnection* connection, const VolumeState* state,
                               uint32_t* holdOffLeftMs) {
  {
    std::lock_guard lock(connection->mutex);
    if (connection->lastState == *state) return SendStateResult::Done;
    const uint32_t quietMs = connection->clock->NowMs() - connection->lastReceivedTime;
    if (connection->hasReceived && quietMs < HOLD_OFF_MS) {
      if (holdOffLeftMs != nullptr) *holdOffLeftMs = HOLD_OFF_MS - quietMs;
      return SendStateResult::Deferred;
    }
    connection->lastState = *state;
  }
  const uint8_t byte = EncodeStateByte(*state);
  return SendToClient(connection, &byte, 1) ? SendStateResult::Done : SendStateResult::SendFailed;
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
  connection->lastState = request;
  connection->lastReceivedTime = connection->clock->NowMs();
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
  connection->socket.Reset();
}

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
  return SendNow(connection->socket.Get(), &byte, 1) == 1 ? SendStateResult::Done
                                                          : SendStateResult::SendFailed;
}

namespace {

void RecordRequest(ClientConnection* connection, const VolumeState& request) {
  std::lock_guard lock(connection->mutex);
  connection->lastState = request;
  connection->lastReceivedTime = connection->clock->NowMs();
  connection->hasReceived = true;
}

}  // namespace

void ReadLoop(void* parameter) {
  auto* connection = static_cast<ClientConnection*>(parameter);
  uint8_t byte = 0;
  while (ReceiveByte(connection->socket.Get(), &byte) == 1) {
    VolumeState request;
    const ClientByteKind kind = DecodeClientByte(byte, &request);
    if (kind == ClientByteKind::KeepAlive) continue;
    if (kind == ClientByteKind::Invalid) break;
    RecordRequest(connection, request);
    for (IClientListener* listener : connection->listeners) {
      listener->OnVolumeReceived(connection, &request);
    }
  }
  for (IClientListener* listener : connection->listeners) {
    listener->OnClientDisconnected(connection);
  }
  connection->socket.Reset();
}

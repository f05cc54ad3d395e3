#pragma once
// The system's socket declarations, for the portable socket code (net/SocketAddress.h) and
// this folder's adapter. Found through quavix_net's private include path, so the portable
// files name no platform.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/Socket.h"

using SocketLength = int;
using NativeSocket = SOCKET;

inline NativeSocket Native(SocketHandle socket) {
  return static_cast<NativeSocket>(socket);
}

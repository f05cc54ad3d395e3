#pragma once
// The system's socket declarations, for the portable socket code (net/SocketAddress.h) and
// this folder's adapter. Found through quavix_net's private include path, so the portable
// files name no platform.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "net/Socket.h"

using SocketLength = socklen_t;
using NativeSocket = int;

inline NativeSocket Native(SocketHandle socket) {
  return static_cast<NativeSocket>(socket);
}

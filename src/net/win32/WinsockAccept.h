#pragma once
// The adapter's accept, with Winsock's accept call passed in, so that its handling of every
// failure the call can report is testable.

#include <winsock2.h>

#include "net/Socket.h"

using WinsockAcceptCall = SOCKET(WSAAPI*)(SOCKET listener, sockaddr* address, int* length);

// AcceptClient (net/Socket.h) calling `acceptCall` where it would call accept.
AcceptResult AcceptClientWith(SocketHandle listener, SocketHandle* accepted,
                              WinsockAcceptCall acceptCall, IpAddress* peer = nullptr);

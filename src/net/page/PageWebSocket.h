#pragma once
// The control page's connections as the server carries them: the HTTP side answers the one
// request (net/page/PageHttp.h), and a request that opens the WebSocket at /ws turns the
// connection into a client. The WebSocket carries the byte protocol, one protocol item per
// binary message.

#include <memory>

#include "net/Socket.h"
#include "net/page/PageSite.h"
#include "net/server/IClientTransport.h"

// Any thread. Takes `accepted` (closed with the transport, or at once on failure). Every step
// before the WebSocket opens is bounded in time and memory, so a slow or hostile peer costs
// one reader thread for a few seconds at most.
std::unique_ptr<IClientTransport> MakePageTransport(SocketHandle accepted, const PageSite& site);

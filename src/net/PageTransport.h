#pragma once
// The control page's connections: HTTP for the page itself, then the WebSocket at /ws that
// carries the byte protocol, one protocol item per binary message.

#include <functional>
#include <memory>

#include "net/IClientTransport.h"
#include "net/PageSite.h"
#include "net/Socket.h"

// Called on the connection's reader thread once its WebSocket is open, before anything is read
// from it. Whatever it sends leaves before any later send.
using PageOpened = std::function<void(ClientConnection* connection)>;

// Any thread. Takes `accepted` (closed with the transport, or at once on failure). The
// transport answers one HTTP request: the page, a refusal, or the WebSocket handshake. Every
// step is bounded in time and memory, so a slow or hostile peer costs one reader thread for a
// few seconds at most until its WebSocket is open.
std::unique_ptr<IClientTransport> MakePageTransport(SocketHandle accepted, const PageSite& site,
                                                    PageOpened opened);

#pragma once
// The control page's listener on a server's addresses. Each connection it accepts answers one
// HTTP request; one that opens the WebSocket becomes a client of the server like any other.
// Its connections pass the server's gate, count toward its client bound and end with its Stop.

#include <cstdint>

#include "net/page/PageRemote.h"
#include "net/page/PageSite.h"
#include "net/server/IConnectionService.h"
#include "net/server/NetworkServer.h"

class PageService final : public IConnectionService {
 public:
  // `server` outlives this object, which outlives the server's next Stop after Listen.
  // `remote` (may be null) outlives every page, as the server's external listener does.
  explicit PageService(NetworkServer& server, PageRemote* remote = nullptr)
      : server_(server), remote_(remote) {}

  // Main thread, after the server's BindAndListen, while it does not run. Serves the page as
  // `site` on `port` (0 asks the system), on the server's addresses, until the server's next
  // Stop. False on failure (nothing of the page listens then).
  bool Listen(uint16_t port, const PageSite& site);
  // Main thread. The page's port while it is served, else 0.
  uint16_t Port() const { return server_.ListeningPort(*this); }

  // The listener's accept thread.
  void ServeAccepted(SocketHandle accepted) override;

 private:
  NetworkServer& server_;
  PageRemote* remote_;
  PageSite site_;  // written only while the server does not run
};

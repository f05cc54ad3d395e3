#include "net/page/PageService.h"

#include "net/page/PageWebSocket.h"

bool PageService::Listen(uint16_t port, const PageSite& site) {
  site_ = site;
  site_.remote = remote_;
  return server_.ListenFor(port, *this);
}

void PageService::ServeAccepted(SocketHandle accepted) {
  server_.ServeTransport(MakePageTransport(accepted, site_));
}

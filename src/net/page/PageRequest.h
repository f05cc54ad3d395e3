#pragma once
// The rules a request to the control page must pass, apart from the HTTP library.

#include <string>
#include <string_view>

#include "net/page/PageSite.h"

// Whether a request's Host header names this computer: one of `site.hostNames`, or
// `localAddress` (the address the request came in on: dotted IPv4, or IPv6 in brackets in the
// Host), either with or without a port; case does not matter. Anything else, an empty Host
// included, is refused.
bool HostIsOurs(std::string_view host, const PageSite& site, std::string_view localAddress);

// Whether a WebSocket handshake may go on. A browser sends the Origin of the page that opens the
// socket; only our own page, "http://" followed by the Host that was asked for, may. A client
// without Origin is no browser, and no other site's page can reach us through it.
bool OriginIsOurs(std::string_view origin, bool hasOrigin, std::string_view host);

// The control page with `computerName` (escaped) as its title.
std::string PageHtml(std::string_view computerName);

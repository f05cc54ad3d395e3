#pragma once
// What the control page needs to know about this computer.

#include <chrono>
#include <string>
#include <vector>

class PageRemote;
class PairingSite;

struct PageSite {
  // Shown on the page as its title.
  std::string computerName;
  // The names a request's Host may carry besides the address the request came in on, in lower
  // case: the host name, its .local name and "localhost". Anything else is refused, so a page
  // of another site cannot reach ours through a name it controls (DNS rebinding).
  std::vector<std::string> hostNames;
  // How long a request may take to arrive whole, and the WebSocket handshake to complete: a
  // slow sender is cut off after it.
  std::chrono::milliseconds requestTime{10000};
  // Pairing (the setting pairing, on by default): a page on any address but loopback proves a
  // phone's key, or pairs, before it hears anything; the computer's own browser gets the
  // pairing page. Null: every page is served as loopback is. Outlives the page's service.
  PairingSite* pairing = nullptr;
  // The player's buttons and the choice of output, for pages that are open. Null: the page
  // offers neither. Set by the page's service; outlives every page.
  PageRemote* remote = nullptr;
};

// This computer's site: its host name, the host name with ".local", and "localhost".
PageSite LocalPageSite();

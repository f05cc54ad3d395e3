#include "app/ListeningPort.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ListenAddresses.h"
#include "base/Texts.h"

void ListeningPort::Started(uint16_t port) {
  const ServerSettings& settings = settings_.Current();
  announce_ = settings.announce;
  listen_ = settings.listen;
  access_ = settings.access;
  webPort_ = settings.webPort;
  running_ = port;
  Publish();
}

std::vector<IpAddress> ListeningPort::Addresses() const {
  // The set addresses, with a wildcard standing for the machine's addresses of its family;
  // none set is every address the machine has.
  const std::vector<IpAddress> local = services_.platform.localAddresses();
  const uint8_t zero[4] = {};
  const IpAddress anyV4 = IpAddress::FromV4Bytes(zero), anyV6{};
  std::vector<IpAddress> addresses;
  const auto add = [&addresses](const IpAddress& address) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
      addresses.push_back(address);
    }
  };
  for (const IpAddress& address :
       listen_.empty() ? std::vector<IpAddress>{anyV4, anyV6} : listen_) {
    if (address != anyV4 && address != anyV6) {
      add(address);
      continue;
    }
    for (const IpAddress& mine : local) {
      if (mine.IsV4() == (address == anyV4)) add(mine);
    }
  }
  // The first is the page's address: one the gate serves, where there is one.
  const AccessPolicy& access = settings_.Current().access;
  std::stable_partition(addresses.begin(), addresses.end(),
                        [&access](const IpAddress& address) { return Allows(access, address); });
  return addresses;
}

std::string ListeningPort::Line() const {
  return ListeningLine(*running_, Addresses(), services_.server.PagePort());
}

void ListeningPort::Publish() {
  ShellPlatform& platform = services_.platform;
  if (announce_) {
    if (running_) {
      services_.announcer.Announce(*running_);
    } else {
      services_.announcer.Withdraw();
    }
  }
  if (!running_) {
    platform.tray.SetToolTip(std::string(kTextAppTitle) + " - not listening");
    services_.server.SetPageAddress("");
    return;
  }
  const std::vector<IpAddress> addresses = Addresses();
  const uint16_t page = services_.server.PagePort();
  services_.server.SetPageAddress(page == 0 ? "" : PairingHost(page, addresses, access_));
  std::fprintf(platform.out, "%s\n", ListeningLine(*running_, addresses, page).c_str());
  std::fflush(platform.out);
  platform.tray.SetToolTip(ListeningToolTip(*running_, addresses, page));
}

std::optional<ListeningPort::Refusal> ListeningPort::Move(uint16_t port) {
  IServerControl& server = services_.server;
  const std::string number = std::to_string(port);
  // The page's own listener would make the probe fail as if another program held the port.
  if (port == webPort_ || port == server.PagePort()) {
    return Refusal{kTextPagePortClash, "port " + number + " is the control page's own port"};
  }
  if (!server.CanBind(port)) {
    return Refusal{kTextBindFailed, "port " + number + " is in use by another program"};
  }
  const std::optional<uint16_t> previous = running_;
  server.Stop();
  running_.reset();
  const bool bound = server.BindAndListen(port);
  if (bound && server.Start()) {
    running_ = port;
    Publish();
    return std::nullopt;
  }
  Refusal refusal = bound ? Refusal{kTextThreadFailed, "the server thread could not start"}
                          : Refusal{kTextBindFailed, "port " + number + " could not be bound"};
  server.Stop();
  if (previous && server.BindAndListen(*previous) && server.Start()) {
    running_ = previous;
  } else {
    server.Stop();
  }
  Publish();
  return refusal;
}

bool ListeningPort::MoveTo(uint16_t port) {
  const std::optional<uint16_t> previous = running_;
  const std::optional<Refusal> refusal = Move(port);
  if (!refusal) return true;
  boxes_.Report(refusal->boxText, kTextErrorTitle, port);
  if (!running_) boxes_.Report(kTextNotServing, kTextErrorTitle, previous);
  return false;
}

bool ListeningPort::StoreRunningPort() {
  // The file may have been edited since it was read; a store that cannot be read fails below.
  std::string unread;
  settings_.Reload(&unread, true);
  if (!running_ || settings_.Current().port == *running_) return true;
  return settings_.StorePort(*running_);
}

void ListeningPort::FollowStoredPort() {
  std::string problem;
  if (!settings_.Reload(&problem)) {
    LogError(problem + "; the server stays on its port");
    return;
  }
  const uint16_t stored = settings_.Current().port;
  if (stored == running_ || MoveTo(stored) || !running_) return;
  // Refused as the dialog refuses it: the port we stay on is the stored one again.
  if (!StoreRunningPort()) boxes_.Report(kTextStoreFailed, kTextErrorTitle, *running_);
}

Reply ListeningPort::MoveOnRequest(const std::string& argument) {
  const std::optional<uint16_t> port = ParsePort(argument);
  if (!port) return {false, "bad port '" + argument + "' (a whole number from 1 to 65535)"};
  const std::optional<uint16_t> previous = running_;
  std::optional<Refusal> refusal;
  if (*port != running_) refusal = Move(*port);
  if (refusal) LogError(std::string(refusal->boxText) + " " + std::to_string(*port));
  if (!running_) {
    // Built with append: GCC 12 at -O3 warns falsely on "literal" + temporary string.
    std::string notServing(kTextNotServing);
    std::string reason = refusal ? refusal->reason : std::string("the port could not be opened");
    reason.append(", and the server could not listen");
    if (previous) {
      notServing.append(" ").append(std::to_string(*previous));
      reason.append(" again on port ").append(std::to_string(*previous));
    }
    LogError(notServing);
    return {false, reason.append(": it listens on no port now")};
  }
  const std::string stays = "the server stays on port " + std::to_string(*running_);
  if (!StoreRunningPort()) {
    LogError(std::string(kTextStoreFailed) + " " + std::to_string(*running_));
    return {false, (refusal ? stays + " (" + refusal->reason + ")" : Line()) +
                       ", but that port could not be stored in " +
                       services_.platform.store.Location()};
  }
  if (refusal) return {false, stays + " (" + refusal->reason + ")"};
  return {true, Line()};
}

void ListeningPort::Withdraw() {
  if (announce_) services_.announcer.Withdraw();
}

Reply ListeningPort::PairingLinkOnRequest() {
  IServerControl& server = services_.server;
  if (!server.Pairs()) {
    return {false,
            "pairing is off (setting pairing): every page the allowed networks reach is "
            "served without it"};
  }
  if (!running_ || server.PagePort() == 0) {
    return {false, "the control page is not served (setting web_port)"};
  }
  const std::optional<std::string> link = server.NewPairingLink();
  if (!link) {
    return {false,
            "no address of this computer lies in the networks the server serves "
            "(setting allow): a phone could not reach the page"};
  }
  return {true, *link};
}

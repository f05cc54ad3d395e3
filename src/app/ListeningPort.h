#pragma once
// Where the server listens: the running port, moving it (with the way back when the new port
// fails), and telling the world where that is: the listening line on stdout, the tray icon's
// tooltip and, while the announce setting is on, the DNS-SD announcement. The addresses and the
// control page's port are those of start-up; only the port moves. Main thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/LoggedBoxes.h"
#include "app/Requests.h"
#include "app/ServerSettings.h"
#include "app/ShellServices.h"

class ListeningPort {
 public:
  ListeningPort(ShellServices& services, SettingsSnapshot& settings, LoggedBoxes& boxes)
      : services_(services), settings_(settings), boxes_(boxes) {}

  // Start-up made the server listen on `port`, where the settings (as read at start-up) said:
  // says where, and announces it when the announce setting is on.
  void Started(uint16_t port);
  // The port the server listens on; none after a move that failed and could not go back.
  std::optional<uint16_t> Running() const { return running_; }

  // Moves the server to `port`. A port that cannot be listened on (the control page's own, or
  // one another program holds) is refused before anyone is disconnected; when the bind or the
  // start still fails, the server goes back to the port it ran on. Every failure is shown in a
  // box and logged. True when the server now listens on `port`.
  bool MoveTo(uint16_t port);
  // A port change announced from outside: reads the settings again and moves to the stored
  // port when it differs from the running one. A refused move stores the running port again,
  // so the next start does not fail on the refused one.
  void FollowStoredPort();
  // The request "port N" of `quavix-server --set-port N`: moves as MoveTo does but tells the
  // asker instead of showing boxes. Afterwards the stored port is the one the server runs on.
  // The reply's text is the listening line, or why the server stays where it is.
  Reply MoveOnRequest(const std::string& argument);
  // `quavix-server --pair`: a pairing link with a fresh code, for a phone whose computer shows
  // no pairing page; an error that says why there is none.
  Reply PairingLinkOnRequest();
  // Quitting: the announcement goes before the server stops, so no one is sent to a port that
  // is about to close.
  void Withdraw();

 private:
  struct Refusal {
    const char* boxText;  // kText..., shown in a box with the port in the log line
    std::string reason;   // the same for the asker, with the port
  };
  // Moves without telling anyone; the refusal when the server does not listen on `port` now.
  std::optional<Refusal> Move(uint16_t port);
  // Says where the server listens now, or that it listens nowhere.
  void Publish();
  // The addresses clients reach the server at.
  std::vector<IpAddress> Addresses() const;
  // Where the server listens now, as the listening line says it.
  std::string Line() const;
  // The running port into the store when it is not there; false when the store refused.
  bool StoreRunningPort();

  ShellServices& services_;
  SettingsSnapshot& settings_;
  LoggedBoxes& boxes_;
  std::optional<uint16_t> running_;
  std::vector<IpAddress> listen_;  // the listen setting of start-up; empty: every address
  AccessPolicy access_;            // whom the server serves: pairing links name one of them
  uint16_t webPort_ = 0;           // the page's port setting of start-up
  bool announce_ = false;
};

#pragma once
// Pairing's part of the page's HTTP side, for the computer's own browser only: the pairing
// page and what its script asks. Any other peer is told these paths do not exist.
//   GET  /pair                  the page, with a fresh code (HEAD too)
//   GET  /pair/phones           the paired phones as JSON
//   POST /pair/forget/ID        forgets one phone (its open socket closes at once)
//   POST /pair/forget-all       forgets every phone
// A POST must come from our own page (the HTTP side checks its Origin), so another site open in
// the same browser cannot forget phones.
// Any thread: the page's connections answer on their own threads.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "net/page/pairing/Pairing.h"

struct PairingRequest {
  std::string_view method;  // "GET", "HEAD", "POST", ...
  std::string_view target;  // the request line's target, query included
  bool fromLoopback = false;
  bool fromOurPage = false;  // no Origin, or our own
};

struct PairingReply {
  int status = 200;
  std::string_view contentType;
  std::string body;
  std::string_view allow;  // with 405: the methods the path takes
};

class PairingSite {
 public:
  PairingSite(Pairing& pairing, std::string computerName)
      : pairing_(pairing), computerName_(std::move(computerName)) {}

  // Where a phone reaches the page, for the links from now on: "192.168.1.20:17496" or
  // "[fd00::1]:17496", the first address the server shows that the gate serves; empty when
  // there is none (no code is then given out).
  void SetPageAddress(std::string hostAndPort);

  // The reply when `request.target` is one of pairing's paths; empty when it is not.
  std::optional<PairingReply> Answer(const PairingRequest& request);

  // The codes, phones and failed tries the page's sockets are checked against.
  Pairing& Parts() { return pairing_; }

  // A pairing link with a fresh code, for a phone the pairing page is not shown for (`--pair`).
  // Empty when there is no address a phone could reach, or no code could be drawn.
  std::optional<std::string> NewLink();

 private:
  PairingReply Page();
  PairingReply Forget(std::string_view id);
  PairingReply ForgetAll();

  std::string PageAddress();

  Pairing& pairing_;
  const std::string computerName_;
  std::mutex mutex_;
  std::string pageAddress_;
};

#pragma once
// One page socket that must prove a key before it hears anything: the server sends the
// challenge first, then hands this the page's text messages until it lets the page in or
// refuses it. A page proves a key it holds ("answer ID HMAC") or pairs with a code it read
// from the QR code ("pair PROOF"); either is one try, against this socket's own nonce.
//
// To the page, as WebSocket text messages:
//   {"type":"challenge","nonce":"<32 hex>"}
//   {"type":"paired","device":"<16 hex>"}                     it derives the key itself
//   {"type":"refused","reason":"<word below>"}                 then the socket closes
// Reasons: unpaired (no such phone), wrong-answer, code-used, code-lapsed, code-wrong,
// too-many-tries, server-error; and forgotten, when a phone is forgotten while connected.
//
// One thread at a time (the socket's reader).

#include <string>
#include <string_view>

#include "net/IpAddress.h"
#include "net/page/pairing/Pairing.h"

class PageAdmission {
 public:
  enum class Verdict {
    kWaiting,        // the challenge is out; nothing has come back yet
    kAdmitted,       // the page proved a key or paired: greet it
    kRefused,        // send the message, then close
    kProtocolError,  // not one of our commands: close (1008) without a word
  };
  struct Step {
    Verdict verdict = Verdict::kWaiting;
    std::string message;   // the text message to send first, if any
    std::string deviceId;  // admitted: the phone, to close its socket when it is forgotten
  };

  PageAdmission(Pairing& pairing, IpAddress peer, std::string userAgent);

  // The first message on the socket. Empty when no nonce could be drawn: close the socket.
  const std::string& Challenge() const { return challenge_; }
  // A text message from the page. Only the first one decides; after it, kProtocolError.
  Step Take(std::string_view text);

  // The message that tells a page its phone was forgotten, before its socket is closed.
  static std::string Forgotten();

 private:
  Step Answer(std::string_view id, std::string_view answerHex);
  Step Pair(std::string_view proofHex);
  Step Refuse(std::string_view reason, std::string_view why);

  Pairing& pairing_;
  IpAddress peer_;
  std::string userAgent_;
  Bytes nonce_;
  std::string challenge_;
  bool decided_ = false;
};

#include "net/page/pairing/PageAdmission.h"

#include <chrono>

#include "base/Log.h"
#include "net/page/JsonText.h"
#include "net/page/PageCommand.h"
#include "net/page/pairing/DeviceName.h"
#include "net/page/pairing/Proofs.h"

WallClock SystemWallClock() {
  return [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
}

namespace {

std::string RefusedMessage(std::string_view reason) {
  return JsonObject().Add("type", "refused").Add("reason", reason).Text();
}

}  // namespace

PageAdmission::PageAdmission(Pairing& pairing, IpAddress peer, std::string userAgent)
    : pairing_(pairing), peer_(peer), userAgent_(std::move(userAgent)) {
  nonce_ = RandomBytes(kNonceBytes);
  if (!nonce_.empty()) {
    challenge_ = JsonObject().Add("type", "challenge").Add("nonce", HexText(nonce_)).Text();
  }
}

std::string PageAdmission::Forgotten() {
  return RefusedMessage("forgotten");
}

PageAdmission::Step PageAdmission::Take(std::string_view text) {
  if (decided_ || challenge_.empty()) return {Verdict::kProtocolError, {}, {}};
  decided_ = true;
  const std::optional<PageCommand> command = ParsePageCommand(text);
  if (!command) return {Verdict::kProtocolError, {}, {}};
  const auto& arguments = command->arguments;
  if (command->word == "answer" && arguments.size() == 2 &&
      IsLowerHex(arguments[0], PairedDevice::kIdBytes * 2) &&
      IsLowerHex(arguments[1], sizeof(Sha256Digest) * 2)) {
    return Answer(arguments[0], arguments[1]);
  }
  if (command->word == "pair" && arguments.size() == 1 &&
      IsLowerHex(arguments[0], sizeof(Sha256Digest) * 2)) {
    return Pair(arguments[0]);
  }
  return {Verdict::kProtocolError, {}, {}};
}

PageAdmission::Step PageAdmission::Refuse(std::string_view reason, std::string_view why) {
  pairing_.failures.Count(peer_, why);
  return {Verdict::kRefused, RefusedMessage(reason), {}};
}

PageAdmission::Step PageAdmission::Answer(std::string_view id, std::string_view answerHex) {
  if (pairing_.failures.ShutOut(peer_)) return Refuse("too-many-tries", "too many failed tries");
  if (!pairing_.devices.Known(id)) return Refuse("unpaired", "no paired phone has that id");
  if (!pairing_.devices.Verify(id, nonce_, *ParseHex(answerHex))) {
    return Refuse("wrong-answer", "a wrong answer to the challenge");
  }
  return {Verdict::kAdmitted, {}, std::string(id)};
}

PageAdmission::Step PageAdmission::Pair(std::string_view proofHex) {
  if (pairing_.failures.ShutOut(peer_)) return Refuse("too-many-tries", "too many failed tries");
  const RedeemedCode redeemed = pairing_.codes.Redeem(nonce_, *ParseHex(proofHex));
  switch (redeemed.check) {
    case CodeCheck::kUsed:
      return Refuse("code-used", "a pairing code that was used already");
    case CodeCheck::kLapsed:
      return Refuse("code-lapsed", "a pairing code that has lapsed");
    case CodeCheck::kWrong:
      return Refuse("code-wrong", "a pairing code this server did not issue");
    case CodeCheck::kAccepted:
      break;
  }
  const std::optional<Sha256Digest> key = DeviceKey(redeemed.code, nonce_);
  const std::optional<PairedDevice> device =
      key ? pairing_.devices.Pair(*key, DeviceName(userAgent_), pairing_.now()) : std::nullopt;
  if (!device) return {Verdict::kRefused, RefusedMessage("server-error"), {}};
  LogNote("paired " + device->name + " from " + IpAddressText(peer_));
  return {Verdict::kAdmitted, JsonObject().Add("type", "paired").Add("device", device->id).Text(),
          device->id};
}

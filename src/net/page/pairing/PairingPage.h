#pragma once
// The pairing page the computer's own browser opens (loopback only): the QR code of a pairing
// link, the link as text, how long the code lasts, and the paired phones, each with Forget,
// and Forget all. Its script keeps the list current (GET /pair/phones every few seconds, so a
// phone that pairs shows up) and forgets phones (POST /pair/forget/ID, POST /pair/forget-all).
// Any thread; no state.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/page/pairing/PairedDevice.h"

struct PairingPageView {
  std::string computerName;
  std::string link;   // http://ADDRESS:PORT/#pair=CODE; empty when no address reaches the page
  std::string qrSvg;  // the link's QR code; empty with the link
  std::vector<PairedDevice> phones;  // keys are not used
};

std::string PairingPageHtml(const PairingPageView& view);

// The phones as the page's script reads them: [{"id":..,"name":..,"pairedAt":..},...].
std::string PhonesJson(const std::vector<PairedDevice>& phones);

// For a terminal: how to pair, `link`, and its QR code drawn in half blocks (QrCode.h). Empty
// when the link cannot be drawn.
std::optional<std::string> PairingTerminalText(std::string_view link);

// The pairing link for a page reached at `pageAddress` ("192.168.1.20:17496" or
// "[fd00::1]:17496"): the code goes in the fragment, which a browser never sends.
std::string PairingLink(std::string_view pageAddress, std::string_view code);

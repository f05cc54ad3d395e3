#pragma once
// The settings dialog's validation.

#include <cstdint>
#include <optional>
#include <string>

#include "audio/IErrorReporter.h"

// The port-box text as the dialog reads it (the first 9 characters), converted as wcstol with
// base 10 would: leading white space, an optional sign, digits, and nothing after them. Empty
// when refused: no digits, anything left over, or outside 1..65535.
std::optional<uint16_t> ParsePortText(const std::string& text);

// What the settings dialog shows and accepts; the platform dialog only draws it.
class SettingsDialogLogic {
 public:
  // `shownPort`: the port the server listens on (the stored one when it listens on none).
  explicit SettingsDialogLogic(uint32_t shownPort) : shownPort_(shownPort) {}
  // The shown port in decimal, for the port box when the dialog opens.
  std::string InitialText() const { return std::to_string(shownPort_); }
  // OK with the box's text: the port to end the dialog with, or 0 after telling the user
  // kTextBadPort through `dialogBoxes` (the dialog then stays open).
  int OnOk(const std::string& text, IErrorReporter& dialogBoxes);

  // The box "Allow clients from outside the local network": the dialog shows this when it opens
  // and leaves the box's state here when it ends with OK.
  bool allowOutside = false;

 private:
  uint32_t shownPort_;
};

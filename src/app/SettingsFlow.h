#pragma once
// The settings dialog's flow: the dialog shows the running port, whether clients from outside
// the local network are allowed and whether the program starts at login; OK stores and applies
// each change and moves the server to a new port; every failure is told in a box. The platform
// dialog (ISettingsDialog) only draws what SettingsDialogLogic decides.

#include <cstdint>
#include <optional>
#include <string>

#include "app/ListeningPort.h"
#include "app/LoggedBoxes.h"
#include "app/ServerSettings.h"
#include "app/ShellServices.h"
#include "audio/IErrorReporter.h"

// The port-box text as the dialog reads it (the first 9 characters), converted as wcstol with
// base 10 would: leading white space and an optional sign, then the port setting's digits.
// Empty when refused: no digits, anything left over, or outside 1..65535.
std::optional<uint16_t> ParsePortText(const std::string& text);

// What the settings dialog shows and accepts; the platform dialog only draws it.
class SettingsDialogLogic {
 public:
  // `shownPort`: the port the server listens on (the stored one when it listens on none).
  // `startAtLogin`: whether the program starts at login now.
  explicit SettingsDialogLogic(uint32_t shownPort, bool startAtLogin = false)
      : shownPort_(shownPort), startAtLogin_(startAtLogin) {}
  // The shown port in decimal, for the port box when the dialog opens.
  std::string InitialText() const { return std::to_string(shownPort_); }
  // OK with the box's text: the port to end the dialog with, or 0 after telling the user
  // kTextBadPort through `dialogBoxes` (the dialog then stays open).
  int OnOk(const std::string& text, IErrorReporter& dialogBoxes);
  // The login box: checked when the dialog opens if the program starts at login; the dialog
  // stores the box's state here when OK is pressed, before OnOk.
  bool StartAtLogin() const { return startAtLogin_; }
  void SetStartAtLogin(bool on) { startAtLogin_ = on; }

  // The box "Allow clients from outside the local network": the dialog shows this when it opens
  // and leaves the box's state here when it ends with OK.
  bool allowOutside = false;

 private:
  uint32_t shownPort_;
  bool startAtLogin_;
};

class SettingsFlow {
 public:
  SettingsFlow(ShellServices& services, SettingsSnapshot& settings, ListeningPort& listening,
               LoggedBoxes& boxes)
      : services_(services), settings_(settings), listening_(listening), boxes_(boxes) {}

  // Main thread. Shows the dialog and carries out what it ended with. The allow and login
  // boxes are applied apart from the port: a port refused afterwards does not undo them. A
  // refused port is not stored, so the next start does not fail on it.
  void Run();

 private:
  // Stores the outside box and applies it: the next client that connects is judged by the new
  // rule; connected ones stay.
  void ApplyAllowOutside(bool allow);

  ShellServices& services_;
  SettingsSnapshot& settings_;
  ListeningPort& listening_;
  LoggedBoxes& boxes_;
};

#pragma once
// The running program: start-up, the message loop and shut-down, over seams only.

#include "app/ListeningPort.h"
#include "app/LoggedBoxes.h"
#include "app/Requests.h"
#include "app/ServerSettings.h"
#include "app/SettingsFlow.h"
#include "app/ShellServices.h"
#include "app/Tray.h"

// The shell's objects, each owning one thing, wired as they work together. Main thread only.
struct Shell {
  explicit Shell(ShellServices& services)
      : boxes(services.platform.messageBox),
        settings(services.platform.store),
        listening(services, settings, boxes),
        settingsFlow(services, settings, listening, boxes),
        tray(services, listening, settingsFlow) {
    // What `quavix-server --OPTION` asks of the running server (Requests.h).
    requests.Add("port", [this](const std::string& port) { return listening.MoveOnRequest(port); });
    requests.Add("pair", [this](const std::string&) { return listening.PairingLinkOnRequest(); });
  }

  LoggedBoxes boxes;          // every error: a box and a log line
  SettingsSnapshot settings;  // the settings the server goes by
  ListeningPort listening;    // where it listens, and who is told
  SettingsFlow settingsFlow;  // the settings dialog
  Tray tray;                  // the icon, its menu and the system's events
  RequestTable requests;      // what a second start of the program asks
};

// Main thread. Runs the whole program; returns its exit code: 0 after a quit or
// when another instance runs, 1 when start-up failed.
int RunShell(ShellServices& services);

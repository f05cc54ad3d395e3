#pragma once
// What the running program does when the user or the system asks: the tray icon's menu, the
// settings dialog with the port move it leads to, a port change announced from outside, a
// notification area that comes up late, and quitting. Main thread only.

#include <optional>
#include <string>

#include "app/IMainLoop.h"
#include "app/ShellServices.h"

// Shows every error in the platform's box and also logs it, so a headless or service run tells
// why it failed.
class LoggedBoxes final : public IErrorReporter {
 public:
  explicit LoggedBoxes(ShellPlatform& platform) : platform_(platform) {}
  void ShowError(const std::string& text, const std::string& title) override {
    Report(text, title, std::nullopt);
  }
  // The log line carries the port after the text; the box does not.
  void Report(const std::string& text, const std::string& title, std::optional<uint16_t> port);

 private:
  ShellPlatform& platform_;
};

class Tray final : public IShellEvents {
 public:
  Tray(ShellServices& services, LoggedBoxes& boxes) : services_(services), boxes_(boxes) {}

  // The server listens on `port`: says where, and shows the icon.
  void Started(uint16_t port);
  // The port the server listens on; none after a move that failed and could not go back.
  std::optional<uint16_t> RunningPort() const { return running_; }

  void OnTrayIconPressed() override;
  // The dialog shows the running port; a new port accepted there is moved to and stored.
  void OnSettingsRequested() override;
  void OnQuitRequested() override;
  // Moves to the stored port when it differs from the running one; when the move is refused,
  // stores the running port again.
  void OnPortChangeAnnounced() override;
  void OnNotificationAreaAppeared() override;

 private:
  // Moves the server to `port`. A port that cannot be bound is refused before anyone is
  // disconnected; when the bind or the start still fails, the server goes back to the port it
  // ran on. Every failure is told. True when the server now listens on `port`.
  bool MoveTo(uint16_t port);
  // Says where the server listens (stdout, tooltip) and announces it on the network, or that
  // it listens nowhere.
  void Announce();
  // Stores the dialog's "Allow clients from outside the local network" and applies it.
  void ApplyAllowOutside(bool allow);

  ShellServices& services_;
  LoggedBoxes& boxes_;
  std::optional<uint16_t> running_;
  bool quitting_ = false;
};

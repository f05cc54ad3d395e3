#pragma once
// The tray icon and its menu. Each menu item, and each event of the system, goes to the object
// that carries it out: the settings dialog's flow, where the server listens, the control page
// in the browser; quitting is the tray's own. Main thread only.

#include "app/IMainLoop.h"
#include "app/ListeningPort.h"
#include "app/SettingsFlow.h"
#include "app/ShellServices.h"

class Tray final : public IShellEvents {
 public:
  Tray(ShellServices& services, ListeningPort& listening, SettingsFlow& settings)
      : services_(services), listening_(listening), settings_(settings) {}

  // Shows the icon; a notification area that comes later shows it then.
  void Show();

  void OnTrayIconPressed() override;
  void OnSettingsRequested() override { settings_.Run(); }
  void OnQuitRequested() override;
  void OnPortChangeAnnounced() override { listening_.FollowStoredPort(); }
  void OnNotificationAreaAppeared() override;
  // Whether quitting has begun.
  bool Quitting() const { return quitting_; }

 private:
  ShellServices& services_;
  ListeningPort& listening_;
  SettingsFlow& settings_;
  bool quitting_ = false;
};

#include "app/Tray.h"

#include "app/ListenAddresses.h"
#include "app/PortSettings.h"
#include "app/ServerSettings.h"
#include "base/Log.h"
#include "base/Texts.h"

void LoggedBoxes::Report(const std::string& text, const std::string& title,
                         std::optional<uint16_t> port) {
  LogError(port ? text + " " + std::to_string(*port) : text);
  platform_.messageBox.ShowError(text, title);
}

void Tray::Started(uint16_t port) {
  running_ = port;
  Announce();
  services_.platform.tray.Add(*this);
}

void Tray::Announce() {
  ShellPlatform& platform = services_.platform;
  if (platform.announcer != nullptr) {
    if (running_) {
      platform.announcer->Announce(*running_);
    } else {
      platform.announcer->Withdraw();
    }
  }
  if (!running_) {
    platform.tray.SetToolTip(std::string(kTextAppTitle) + " - not listening");
    return;
  }
  // Where the server listens: the set addresses, else every address the machine has.
  std::vector<IpAddress> addresses = LoadServerSettings(platform.store, true).listen;
  if (addresses.empty()) addresses = platform.localAddresses();
  const uint16_t page = services_.server.PagePort();
  std::fprintf(platform.out, "%s\n", ListeningLine(*running_, addresses, page).c_str());
  std::fflush(platform.out);
  platform.tray.SetToolTip(ListeningToolTip(*running_, addresses, page));
}

void Tray::OnTrayIconPressed() {
  // Built on every press, so the menu never outlives the press that opened it.
  std::vector<PopupMenuItem> items = {
      {false, MenuCommand::Settings, kTextMenuSettings},
      {true, MenuCommand::None, ""},
  };
  const uint16_t page = services_.server.PagePort();
  if (page != 0) items.push_back({false, MenuCommand::OpenPage, kTextMenuOpenPage});
  items.push_back({false, MenuCommand::Quit, kTextMenuQuit});
  // Carried out after the menu's own modal loop has ended.
  switch (services_.platform.menu.Track(items)) {
    case MenuCommand::Settings:
      services_.platform.loop.RunOnMainThread([this] { OnSettingsRequested(); });
      break;
    case MenuCommand::OpenPage:
      // This computer's own browser: localhost is one of the page's names on every system.
      if (services_.platform.openUrl) {
        services_.platform.openUrl("http://localhost:" + std::to_string(page) + "/");
      }
      break;
    case MenuCommand::Quit:
      services_.platform.loop.RunOnMainThread([this] { OnQuitRequested(); });
      break;
    case MenuCommand::None:
      break;
  }
}

void Tray::OnSettingsRequested() {
  ShellPlatform& platform = services_.platform;
  const ServerSettings settings = LoadServerSettings(platform.store, true);
  IStartAtLogin* login = platform.startAtLogin;
  const bool startsAtLogin = login != nullptr && login->Enabled();
  SettingsDialogLogic logic(running_ ? *running_ : settings.port, startsAtLogin);
  logic.allowOutside = settings.access.anyone;
  const int result = platform.dialog.Run(logic);
  if (result == -1) return;
  const uint16_t port = static_cast<uint16_t>(result & 0xFFFF);
  if (port == 0) return;
  // Apart from the port: a port that is refused below does not undo them.
  if (logic.allowOutside != settings.access.anyone) ApplyAllowOutside(logic.allowOutside);
  if (login != nullptr && logic.StartAtLogin() != startsAtLogin &&
      !login->SetEnabled(logic.StartAtLogin())) {
    boxes_.ShowError(kTextStartAtLoginFailed, kTextErrorTitle);
  }
  if (port == running_) {
    // Only the store may lag behind (a move announced from outside that was refused).
    if (settings.port == port) return;
  } else if (!MoveTo(port)) {
    return;  // the refused port is not stored: the next start would fail on it
  }
  if (!StorePort(platform.store, port)) {
    boxes_.Report(kTextStoreFailed, kTextErrorTitle, port);
  }
}

void Tray::ApplyAllowOutside(bool allow) {
  ShellPlatform& platform = services_.platform;
  if (!StoreAllowOutside(platform.store, allow)) {
    boxes_.ShowError(kTextStoreFailed, kTextErrorTitle);
    return;
  }
  // The next client that connects is judged by the new rule; connected ones stay.
  services_.server.Configure(LoadServerSettings(platform.store, true));
}

void Tray::OnPortChangeAnnounced() {
  ISettingStore& store = services_.platform.store;
  const uint16_t stored = LoadServerSettings(store).port;
  if (stored == running_ || MoveTo(stored) || !running_) return;
  // Refused as the dialog refuses it: the port we stay on is the stored one again, so the next
  // start does not fail on the refused port.
  if (!StorePort(store, *running_)) boxes_.Report(kTextStoreFailed, kTextErrorTitle, *running_);
}

bool Tray::MoveTo(uint16_t port) {
  IServerControl& server = services_.server;
  if (!server.CanBind(port)) {
    boxes_.Report(kTextBindFailed, kTextErrorTitle, port);
    return false;
  }
  const std::optional<uint16_t> previous = running_;
  server.Stop();
  running_.reset();
  const bool bound = server.BindAndListen(port);
  if (bound && server.Start()) {
    running_ = port;
    Announce();
    return true;
  }
  boxes_.Report(bound ? kTextThreadFailed : kTextBindFailed, kTextErrorTitle, port);
  server.Stop();
  if (previous && server.BindAndListen(*previous) && server.Start()) {
    running_ = previous;
  } else {
    server.Stop();
    boxes_.Report(kTextNotServing, kTextErrorTitle, previous);
  }
  Announce();
  return false;
}

void Tray::OnQuitRequested() {
  quitting_ = true;
  // Before the server stops, so no one is sent to a port that is about to close.
  if (services_.platform.announcer != nullptr) services_.platform.announcer->Withdraw();
  services_.platform.tray.Remove();
  services_.platform.loop.Quit(0);
}

void Tray::OnNotificationAreaAppeared() {
  if (!quitting_) services_.platform.tray.Add(*this);
}

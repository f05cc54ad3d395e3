#include "app/Tray.h"

#include <string>
#include <vector>

#include "base/Texts.h"

void Tray::Show() {
  services_.platform.tray.Add(*this);
}

void Tray::OnTrayIconPressed() {
  ShellPlatform& platform = services_.platform;
  // Built on every press, so the menu never outlives the press that opened it.
  std::vector<PopupMenuItem> items = {
      {false, MenuCommand::Settings, kTextMenuSettings},
      {true, MenuCommand::None, ""},
  };
  const uint16_t page = services_.server.PagePort();
  if (page != 0) items.push_back({false, MenuCommand::OpenPage, kTextMenuOpenPage});
  if (page != 0 && services_.server.Pairs()) {
    items.push_back({false, MenuCommand::PairPhone, kTextMenuPairPhone});
  }
  items.push_back({false, MenuCommand::Quit, kTextMenuQuit});
  // Carried out after the menu's own modal loop has ended.
  switch (platform.menu.Track(items)) {
    case MenuCommand::Settings:
      platform.loop.RunOnMainThread([this] { OnSettingsRequested(); });
      break;
    case MenuCommand::OpenPage:
      // This computer's own browser: localhost is one of the page's names on every system.
      if (platform.openUrl) platform.openUrl("http://localhost:" + std::to_string(page) + "/");
      break;
    case MenuCommand::PairPhone:
      // The pairing page exists for this computer's own browser only, on loopback.
      if (platform.openUrl) {
        platform.openUrl("http://localhost:" + std::to_string(page) + "/pair");
      }
      break;
    case MenuCommand::Quit:
      platform.loop.RunOnMainThread([this] { OnQuitRequested(); });
      break;
    case MenuCommand::None:
      break;
  }
}

void Tray::OnQuitRequested() {
  quitting_ = true;
  listening_.Withdraw();
  services_.platform.tray.Remove();
  services_.platform.loop.Quit(0);
}

void Tray::OnNotificationAreaAppeared() {
  if (!quitting_) services_.platform.tray.Add(*this);
}

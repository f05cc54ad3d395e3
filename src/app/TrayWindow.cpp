#include "app/TrayWindow.h"

#include "app/PortSettings.h"
#include "app/ShellIds.h"

intptr_t TrayWindow::TrayWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  IMessageWindow& window = services_.platform.window;
  switch (message) {
    case kWmDestroy:
      window.PostQuit(0);
      return 0;
    case kWmClose:
      services_.platform.tray.Delete();
      return window.DefaultProcedure(message, wParam, lParam);
    case kWmCommand:
      if ((wParam & 0xFFFF) == kCommandExit) {
        window.Destroy();  // the icon stays: this path never deletes it
        return 0;
      }
      return window.DefaultProcedure(message, wParam, lParam);
    case kWmTimer:
      if (wParam == TIMER_BROADCAST_RETRY) {
        RetryBroadcast();
      } else if (wParam == TIMER_KEEPALIVE) {
        services_.server.SendKeepAlive();
      }
      return 0;
    case WM_TRAY_NOTIFY:
      if (wParam == kTrayIconId && (lParam == kWmLButtonDown || lParam == kWmRButtonDown)) {
        ShowPopupMenu();
      }
      return 0;
    case WM_SHOW_SETTINGS:
      ChangePort();
      return 0;
    case WM_ADD_TRAY_ICON:
      services_.platform.tray.Add();
      return 0;
    default:
      return window.DefaultProcedure(message, wParam, lParam);
  }
}

void TrayWindow::RetryBroadcast() {
  if (services_.server.BroadcastState()) {
    services_.platform.window.SetTimer(TIMER_BROADCAST_RETRY, kRetryPeriodMs);
  }
}

void TrayWindow::ShowPopupMenu() {
  // Built on every press, so the menu never outlives the press that opened it.
  const std::vector<PopupMenuItem> items = {
      {false, kMenuCommandSettings, kTextMenuSettings},
      {true, 0, ""},
      {false, kMenuCommandQuit, kTextMenuQuit},
  };
  const uint32_t chosen = services_.platform.menu.Track(items);
  if (chosen == kMenuCommandSettings || chosen == kMenuCommandQuit) {
    services_.platform.window.Post(chosen, 0, 0);
  }
}

void TrayWindow::ChangePort() {
  ShellPlatform& platform = services_.platform;
  SettingsDialogLogic logic(platform.store);
  const int result = platform.dialog.Run(logic);
  if (result == -1) return;
  const uint16_t newPort = static_cast<uint16_t>(result & 0xFFFF);
  if (newPort == 0) return;
  const uint16_t previousPort = static_cast<uint16_t>(ReadServerPort(platform.store));
  if (newPort == previousPort) return;

  IServerControl& server = services_.server;
  // Storing a port that cannot be bound would leave the server deaf now and make the next
  // start-up fail. So an unbindable port is refused before anyone is disconnected, and should
  // the bind still fail after the stop, the previous port is served again; either way the
  // previous port stays stored.
  if (!server.CanBind(newPort)) {
    platform.messageBox.ShowError(kTextBindFailed, kTextErrorTitle);
    return;
  }
  server.Stop();
  if (!server.BindAndListen(newPort)) {
    server.Stop();
    server.BindAndListen(previousPort);
    server.Start();
    platform.messageBox.ShowError(kTextBindFailed, kTextErrorTitle);
    return;
  }
  WriteServerPort(platform.store, newPort);
  server.Start();
}

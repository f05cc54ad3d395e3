#pragma once
// The hidden window's procedure: tray icon, popup menu, timers, port change and quitting.

#include "app/IMessageWindow.h"
#include "app/ShellServices.h"

class TrayWindow final : public IWindowProcedure {
 public:
  explicit TrayWindow(ShellServices& services) : services_(services) {}

  intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    return TrayWindowProc(message, wParam, lParam);
  }
  intptr_t TrayWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

 private:
  void RetryBroadcast();
  void ShowPopupMenu();
  void ChangePort();

  ShellServices& services_;
};

#pragma once
// ISettingsDialog as the modal dialog of template 103, owned by the hidden window.

#include <windows.h>

#include "app/ISettingsDialog.h"

class Win32SettingsDialog final : public ISettingsDialog {
 public:
  Win32SettingsDialog(HINSTANCE module, HWND (*owner)()) : module_(module), owner_(owner) {}
  // DialogBoxParamW(module, 103, hidden window, SettingsDialogProc, 0).
  int Run(SettingsDialogLogic& logic) override;

 private:
  HINSTANCE module_;
  HWND (*owner_)();
};

// The dialog procedure: WM_INITDIALOG fills the port box and ticks the login box as the logic
// says; WM_COMMAND 1 (OK, or Enter) hands the login box to the logic, reads at most 9
// characters and ends with the port or shows "Bad Port"; WM_COMMAND 2 (Cancel, or Escape)
// ends with 0. Every WM_COMMAND returns TRUE, everything else FALSE.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

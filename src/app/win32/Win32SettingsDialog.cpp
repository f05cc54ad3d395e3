#include "app/win32/Win32SettingsDialog.h"

#include "app/SettingsFlow.h"
#include "app/win32/ResourceIds.h"
#include "app/win32/Win32ShellServices.h"
#include "base/win32/WideText.h"

namespace {

// The logic of the dialog that is open. The dialog is modal and main-thread only, so there is
// at most one; the initialisation parameter stays 0.
SettingsDialogLogic* gOpenDialogLogic = nullptr;

// The dialog's text buffer: 10 characters with the terminator.
constexpr int kPortTextLength = 10;

}  // namespace

int Win32SettingsDialog::Run(SettingsDialogLogic& logic) {
  SettingsDialogLogic* outer = gOpenDialogLogic;
  gOpenDialogLogic = &logic;
  const INT_PTR result =
      DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_SETTINGS), owner_(), &SettingsDialogProc, 0);
  gOpenDialogLogic = outer;
  return static_cast<int>(result);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  SettingsDialogLogic* logic = gOpenDialogLogic;
  switch (message) {
    case WM_INITDIALOG: {
      wchar_t text[kPortTextLength] = {};
      if (logic != nullptr) lstrcpynW(text, Widen(logic->InitialText()).c_str(), kPortTextLength);
      SetWindowTextW(GetDlgItem(dialog, IDC_PORT), text);
      CheckDlgButton(dialog, IDC_ALLOW_OUTSIDE,
                     logic != nullptr && logic->allowOutside ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, IDC_START_AT_LOGIN,
                     logic != nullptr && logic->StartAtLogin() ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;  // the platform focuses the first tab stop, the port box
    }
    case WM_COMMAND:
      if (wParam == IDOK && logic != nullptr) {
        wchar_t text[kPortTextLength] = {};
        GetWindowTextW(GetDlgItem(dialog, IDC_PORT), text, kPortTextLength);
        logic->SetStartAtLogin(IsDlgButtonChecked(dialog, IDC_START_AT_LOGIN) == BST_CHECKED);
        Win32MessageBox ownedByDialog(dialog);
        const int port = logic->OnOk(Narrow(text), ownedByDialog);
        if (port != 0) {
          logic->allowOutside = IsDlgButtonChecked(dialog, IDC_ALLOW_OUTSIDE) == BST_CHECKED;
          EndDialog(dialog, port);
        }
      } else if (wParam == IDCANCEL) {
        EndDialog(dialog, 0);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

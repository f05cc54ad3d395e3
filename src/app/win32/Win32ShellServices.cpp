#include "app/win32/Win32ShellServices.h"

#include "app/win32/ResourceIds.h"
#include "app/win32/ShellMessages.h"
#include "base/Log.h"
#include "base/win32/SystemErrorText.h"
#include "base/win32/WideText.h"

GuardResult Win32InstanceGuard::Acquire(const std::string& name) {
  mutex_ = CreateMutexW(nullptr, FALSE, Widen(name).c_str());
  // Read at once: anything in between could overwrite the thread's last error.
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return GuardResult::AlreadyRunning;
  if (mutex_ != nullptr) return GuardResult::Acquired;
  LogError("CreateMutexW: " + WindowsErrorText(error));
  return GuardResult::Failed;
}

void Win32InstanceGuard::Release() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
  mutex_ = nullptr;
}

void Win32MessageBox::ShowError(const std::string& text, const std::string& title) {
  MessageBoxW(owner_, Widen(text).c_str(), Widen(title).c_str(), MB_OK | MB_ICONERROR);
}

namespace {

// A record for icon 1000 of the hidden window, every other member zero.
NOTIFYICONDATAW IconRecord(HWND window) {
  NOTIFYICONDATAW data{};
  // The whole structure of this build (976 bytes on x64, 956 on 32-bit): the shell then knows
  // every member we might set.
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kTrayIconId;
  return data;
}

}  // namespace

bool Win32TrayIcon::Add(IShellEvents&) {
  NOTIFYICONDATAW data = IconRecord(window_());
  data.uFlags = NIF_MESSAGE | NIF_ICON;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = LoadIconW(module_, MAKEINTRESOURCEW(IDI_QUAVIX));
  if (!toolTip_.empty()) {
    data.uFlags |= NIF_TIP;
    lstrcpynW(data.szTip, toolTip_.c_str(), ARRAYSIZE(data.szTip));
  }
  shown_ = call_(NIM_ADD, &data) != FALSE;
  return shown_;
}

void Win32TrayIcon::Remove() {
  NOTIFYICONDATAW data = IconRecord(window_());
  call_(NIM_DELETE, &data);
  shown_ = false;
}

void Win32TrayIcon::SetToolTip(const std::string& text) {
  toolTip_ = Widen(text);
  if (!shown_) return;  // Add shows it
  NOTIFYICONDATAW data = IconRecord(window_());
  data.uFlags = NIF_TIP;
  lstrcpynW(data.szTip, toolTip_.c_str(), ARRAYSIZE(data.szTip));
  call_(NIM_MODIFY, &data);
}

const MenuApi& SystemMenuApi() {
  static const MenuApi api{&CreatePopupMenu,     &InsertMenuItemW, &GetCursorPos,
                           &SetForegroundWindow, &TrackPopupMenu,  &DestroyMenu};
  return api;
}

namespace {

UINT CommandId(MenuCommand command) {
  return command == MenuCommand::Settings    ? kMenuCommandSettings
         : command == MenuCommand::OpenPage  ? kMenuCommandOpenPage
         : command == MenuCommand::PairPhone ? kMenuCommandPairPhone
         : command == MenuCommand::Quit      ? kMenuCommandQuit
                                             : 0;
}

}  // namespace

MenuCommand Win32PopupMenu::Track(const std::vector<PopupMenuItem>& items) {
  HMENU menu = api_.createPopupMenu();
  if (menu == nullptr) return MenuCommand::None;
  std::vector<std::wstring> texts;  // alive until the menu has copied them
  texts.reserve(items.size());
  UINT position = 0;
  for (const PopupMenuItem& item : items) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    if (item.columnBreak) {
      info.fMask = MIIM_TYPE;
      info.fType = MFT_MENUBREAK;
    } else {
      texts.push_back(Widen(item.text));
      info.fMask = MIIM_ID | MIIM_TYPE;
      info.fType = MFT_STRING;
      info.wID = CommandId(item.command);
      info.dwTypeData = texts.back().data();
    }
    api_.insertMenuItem(menu, position++, TRUE, &info);
  }
  POINT cursor{};
  api_.getCursorPos(&cursor);
  HWND window = window_();
  // Without this the menu would not close when the user clicks elsewhere.
  api_.setForegroundWindow(window);
  const BOOL chosen = api_.trackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, cursor.x, cursor.y, 0,
                                          window, nullptr);
  api_.destroyMenu(menu);
  if (static_cast<UINT>(chosen) == kMenuCommandSettings) return MenuCommand::Settings;
  if (static_cast<UINT>(chosen) == kMenuCommandOpenPage) return MenuCommand::OpenPage;
  if (static_cast<UINT>(chosen) == kMenuCommandPairPhone) return MenuCommand::PairPhone;
  if (static_cast<UINT>(chosen) == kMenuCommandQuit) return MenuCommand::Quit;
  return MenuCommand::None;
}

void OpenInBrowser(const std::string& url) {
  const std::wstring wide = Widen(url);
  // ShellExecute reports success as a value above 32.
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) LogError("couldn't open " + url + " in a browser");
}

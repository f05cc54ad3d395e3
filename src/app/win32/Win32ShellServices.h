#pragma once
// The shell's small Win32 services: the single-instance guard, message boxes, the tray icon and
// the popup menu. The USER32/SHELL32 calls they make go through tables of function pointers so
// tests can see the exact records passed.

#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include <string>

#include "app/IInstanceGuard.h"
#include "app/IPopupMenu.h"
#include "app/ITrayIcon.h"
#include "audio/IErrorReporter.h"

// CreateMutexW and its last error; a named mutex per logon session.
class Win32InstanceGuard final : public IInstanceGuard {
 public:
  ~Win32InstanceGuard() override { Release(); }
  GuardResult Acquire(const std::string& name) override;
  void Release() override;

 private:
  HANDLE mutex_ = nullptr;
};

// MessageBoxW with MB_OK | MB_ICONERROR, owned by `owner` (null: no owner window).
class Win32MessageBox final : public IErrorReporter {
 public:
  explicit Win32MessageBox(HWND owner = nullptr) : owner_(owner) {}
  void ShowError(const std::string& text, const std::string& title) override;

 private:
  HWND owner_;
};

using NotifyIconCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

// Shell_NotifyIconW with icon id 1000 of the hidden window, callback message WM_TRAY_NOTIFY and
// icon group 107 at the standard icon size; the tooltip (NIF_TIP) once one is set, changed with
// NIM_MODIFY while shown; no balloon, no NIM_SETVERSION, so the callback keeps its version-0
// form (wParam the icon id, lParam the mouse message). Presses reach the shell through the
// hidden window's procedure (Win32MainLoop), not through this object.
class Win32TrayIcon final : public ITrayIcon {
 public:
  // `window` is read at each call: the hidden window exists only after start-up created it.
  Win32TrayIcon(HINSTANCE module, HWND (*window)(), NotifyIconCall call = &Shell_NotifyIconW)
      : module_(module), window_(window), call_(call) {}
  bool Add(IShellEvents& events) override;
  void Remove() override;
  void SetToolTip(const std::string& text) override;

 private:
  HINSTANCE module_;
  HWND (*window_)();
  NotifyIconCall call_;
  std::wstring toolTip_;
  bool shown_ = false;
};

struct MenuApi {
  HMENU(WINAPI* createPopupMenu)();
  BOOL(WINAPI* insertMenuItem)(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
  BOOL(WINAPI* getCursorPos)(LPPOINT point);
  BOOL(WINAPI* setForegroundWindow)(HWND window);
  BOOL(WINAPI* trackPopupMenu)
  (HMENU menu, UINT flags, int x, int y, int reserved, HWND window, const RECT* rect);
  BOOL(WINAPI* destroyMenu)(HMENU menu);
};
const MenuApi& SystemMenuApi();

// Built from zeroed MENUITEMINFOW records inserted by position, Settings as id 1026 and Quit as
// id 16; a column break is MFT_MENUBREAK alone, with no text and no id. Tracked with TPM_RETURNCMD
// | TPM_NONOTIFY at the cursor.
class Win32PopupMenu final : public IPopupMenu {
 public:
  explicit Win32PopupMenu(HWND (*window)(), const MenuApi& api = SystemMenuApi())
      : window_(window), api_(api) {}
  MenuCommand Track(const std::vector<PopupMenuItem>& items) override;

 private:
  HWND (*window_)();
  const MenuApi& api_;
};

// Main thread. Opens `url` in the user's browser; a failure is logged.
void OpenInBrowser(const std::string& url);

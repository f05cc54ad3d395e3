// QuavixServer.exe: the Windows adapters around the portable shell.
#include <windows.h>

#include "app/ListenAddresses.h"
#include "app/ShellNames.h"
#include "app/ShellServices.h"
#include "app/win32/RegistrySettingStore.h"
#include "app/win32/RunningServer.h"
#include "app/win32/Win32MainLoop.h"
#include "app/win32/Win32SettingsDialog.h"
#include "app/win32/Win32ShellServices.h"
#include "net/page/pairing/win32/RegistryPairedDeviceStore.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // --help, --version, --set-port: answered before any window or socket exists.
  if (const std::optional<int> done = RunWin32CommandLine()) return *done;
  Win32InstanceGuard guard;
  Win32MainLoop loop(instance, showCommand);
  Win32MessageBox messageBox;  // no owner window
  Win32TrayIcon tray(instance, &HiddenWindowHandle);
  Win32PopupMenu menu(&HiddenWindowHandle);
  Win32SettingsDialog dialog(instance, &HiddenWindowHandle);
  RegistrySettingStore store;
  // Under the program's key.
  RegistryPairedDeviceStore pairedPhones(kSettingKey);
  ShellPlatform platform{guard, loop, messageBox, tray, menu, dialog, store, &LocalAddresses};
  platform.openUrl = &OpenInBrowser;
  platform.pairedPhones = &pairedPhones;
  WindowRequestChannel requests(loop);
  platform.requests = &requests;
  return RunQuavixServer(platform);
}

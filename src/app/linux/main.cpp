// quavix-server on Linux: Qt runs the main thread's loop; the shell does the rest.

#include <QApplication>
#include <cstdlib>

#include "app/ShellServices.h"
#include "app/linux/FileSettingStore.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/QtMessageWindow.h"
#include "app/linux/QtShellWidgets.h"
#include "app/linux/RunningServer.h"
#include "net/linux/OpenFileLimit.h"

int main(int argc, char** argv) {
  // --help, --version, --set-port: answered before Qt is built, so no display is touched.
  if (const std::optional<int> done = RunLinuxCommandLine(argc, argv)) return *done;
  RaiseOpenFileLimit();  // one descriptor per client; the default soft limit is small

  // Without any display Qt would abort; its offscreen platform lets a headless box serve.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quavix-server"));
  QApplication::setWindowIcon(ProgramIcon());
  // The dialog and message boxes are our only windows; closing them must not end the loop.
  QApplication::setQuitOnLastWindowClosed(false);

  FlockInstanceGuard guard;
  QtMessageWindow window;
  QtMessageBox messageBox;
  QtTrayIcon tray(window);
  QtPopupMenu menu;
  QtSettingsDialog dialog;
  FileSettingStore store;
  ShellPlatform platform{guard, window, messageBox, tray, menu, dialog, store};
  return RunQuavixServer(platform);
}

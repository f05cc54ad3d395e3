// quavix-server on Linux: Qt runs the main thread's loop; the shell does the rest.

#include <xcb/xcb.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/ListenAddresses.h"
#include "app/ShellServices.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/IniSettingStore.h"
#include "app/linux/QtMainLoop.h"
#include "app/linux/QtShellWidgets.h"
#include "app/linux/RequestSocket.h"
#include "app/linux/RunningServer.h"
#include "base/Log.h"
#include "net/linux/OpenFileLimit.h"
#include "net/page/pairing/linux/FilePairedDeviceStore.h"

namespace {

// Whether the X server that DISPLAY names answers; Qt aborts the process when it does not.
bool DisplayAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);  // also frees a connection in error
  return answers;
}

// Qt's offscreen platform lets a box without a usable display serve all the same.
void ChooseHeadlessWhenNoDisplay() {
  if (std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr) {
    return;
  }
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (!DisplayAnswers()) {
    LogError(std::string("display ") + display + " does not answer; running without one");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version, --set-port, --pair: answered before Qt is built, so no display is
  // touched.
  if (const std::optional<int> done = RunLinuxCommandLine(argc, argv)) return *done;
  RaiseOpenFileLimit();  // one descriptor per client; the default soft limit is small
  ChooseHeadlessWhenNoDisplay();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quavix-server"));
  QApplication::setWindowIcon(ProgramIcon());
  // The dialog and message boxes are our only windows; closing them must not end the loop.
  QApplication::setQuitOnLastWindowClosed(false);

  FlockInstanceGuard guard;
  QtMainLoop loop;
  loop.EndOnStopSignalUntilRun();
  QtMessageBox messageBox;
  QtTrayIcon tray;
  QtPopupMenu menu;
  QtSettingsDialog dialog;
  IniSettingStore store;
  // Beside the settings file.
  FilePairedDeviceStore pairedPhones(std::filesystem::path(store.Path()).parent_path().string());
  ShellPlatform platform{guard, loop, messageBox, tray, menu, dialog, store, &LocalAddresses};
  platform.openUrl = &OpenInBrowser;
  if (!store.Path().empty()) platform.pairedPhones = &pairedPhones;
  RequestSocket requests;
  platform.requests = &requests;
  return RunQuavixServer(platform);
}

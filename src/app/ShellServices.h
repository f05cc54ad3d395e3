#pragma once
// Everything start-up, shut-down and the tray window use, as seams. The platform's entry point
// fills ShellPlatform with its adapters and calls RunQuavixServer, which adds the process-wide
// server, relay and volume control, networking, the announcer and start at login.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/IInstanceGuard.h"
#include "app/IMainLoop.h"
#include "app/IPopupMenu.h"
#include "app/IRequestChannel.h"
#include "app/ISettingStore.h"
#include "app/ISettingsDialog.h"
#include "app/IStartAtLogin.h"
#include "app/ITrayIcon.h"
#include "app/ServerSettings.h"
#include "audio/IErrorReporter.h"
#include "audio/IPollTimer.h"
#include "audio/IVolumeControl.h"
#include "net/Networking.h"
#include "net/discovery/IServiceAnnouncer.h"
#include "net/page/pairing/PairedDevice.h"

// The operating system's services, implemented by linux/ or win32/.
struct ShellPlatform {
  IInstanceGuard& guard;
  IMainLoop& loop;
  IErrorReporter& messageBox;  // no owner window; logs nothing itself
  ITrayIcon& tray;
  IPopupMenu& menu;
  ISettingsDialog& dialog;
  ISettingStore& store;
  // The machine's addresses clients can reach, loopback and IPv6 link-local left out
  // (LocalAddresses).
  std::function<std::vector<IpAddress>()> localAddresses;
  std::FILE* out = stdout;  // where the listening line goes
  // Opens `url` in the user's browser; null where there is none (tests).
  std::function<void(const std::string& url)> openUrl = nullptr;
  // Where `quavix-server --set-port` and the like reach the running server; null: nowhere.
  IRequestChannel* requests = nullptr;
  // Where the phones paired with the page are kept; null: in memory, until the server stops.
  IPairedDeviceStore* pairedPhones = nullptr;
};

// Main thread: start-up, the main loop and shut-down. Returns the process exit code.
int RunQuavixServer(ShellPlatform& platform);

// The pieces of other modules the shell drives; RunQuavixServer adapts the real ones, tests use
// fakes. All calls on the main thread unless said otherwise.
class INetworking {
 public:
  virtual ~INetworking() = default;
  // Anything but Ok leaves networking stopped.
  virtual NetStartResult Start() = 0;
  virtual void Stop() = 0;
};

class IVolumeBackend {
 public:
  virtual ~IVolumeBackend() = default;
  // Creates, initialises and installs the backend; false after it told the user why.
  virtual bool Create(IPollTimer& pollTimer, IErrorReporter& reporter) = 0;
  // The installed volume control, null before Create and after Destroy.
  virtual IVolumeControl* Current() = 0;
  // Destroys the installed volume control (Shutdown first is the caller's job).
  virtual void Destroy() = 0;
};

class IServerControl {
 public:
  virtual ~IServerControl() = default;
  virtual void Connect(IVolumeControl* stateSource) = 0;  // state source + external listener
  // Where the next BindAndListen listens, whom the server serves from now on, and the control
  // page's port for every later bind (0: no page).
  virtual void Configure(const ServerSettings& settings) = 0;
  // Whom the server serves from the next client that connects on; the rest stays as configured.
  virtual void SetAccess(const AccessPolicy& access) = 0;
  // Binds the byte-protocol port, then the page's; a page that cannot be served is reported
  // and left out, and the result is the byte port's.
  virtual bool BindAndListen(uint16_t port) = 0;
  // After a failed BindAndListen: the listen address this computer does not have, if that was
  // the reason.
  virtual std::optional<IpAddress> MissingAddress() = 0;
  // The control page's port while it is served, else 0.
  virtual uint16_t PagePort() = 0;
  // Whether the page pairs phones (the setting, and a place to keep them).
  virtual bool Pairs() = 0;
  // Where a phone reaches the page, for pairing links: "ADDRESS:PORT"; empty for nowhere.
  virtual void SetPageAddress(const std::string& hostAndPort) = 0;
  // A pairing link with a fresh code; empty while no phone could use one (pairing off, the
  // page not served, no address a phone reaches).
  virtual std::optional<std::string> NewPairingLink() = 0;
  // Whether a socket could be bound to `port` now on every address the server listens on (a
  // probe; it holds nothing afterwards).
  virtual bool CanBind(uint16_t port) = 0;
  virtual bool Start() = 0;
  // False when a reader is still inside the volume control after the bounded wait: the volume
  // control and the relay must then stay alive until the process ends.
  virtual bool Stop() = 0;
  // Registers / clears the relay's change callback on `control`.
  virtual void RegisterChangeCallback(IVolumeControl* control) = 0;
  virtual void UnregisterChangeCallback(IVolumeControl* control) = 0;
  virtual bool BroadcastState() = 0;  // true when a client was deferred
  virtual void SendKeepAlive() = 0;
};

struct ShellServices {
  ShellPlatform& platform;
  INetworking& networking;
  IVolumeBackend& backend;
  IServerControl& server;
  IServiceAnnouncer& announcer;  // used only while the announce setting is on
  // Null: it cannot be set up here, and the dialog's box shows it off.
  IStartAtLogin* startAtLogin = nullptr;
};

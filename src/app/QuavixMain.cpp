// The process-wide objects and the adapters that let the shell drive them.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Shell.h"
#include "app/ShellServices.h"
#include "app/ShellTimers.h"
#include "audio/VolumeControlFactory.h"
#include "net/IClock.h"
#include "net/Networking.h"
#include "net/Socket.h"
#include "net/VolumeServer.h"

namespace {

class PlatformNetworking final : public INetworking {
 public:
  NetStartResult Start() override { return StartNetworking(); }
  void Stop() override { StopNetworking(); }
};

class FactoryBackend final : public IVolumeBackend {
 public:
  bool Create(IPollTimer& pollTimer, IErrorReporter& reporter) override {
    return CreateVolumeControl(pollTimer, reporter);
  }
  IVolumeControl* Current() override { return CurrentVolumeControl(); }
  void Destroy() override { DestroyCurrentVolumeControl(); }
};

// The shell's view of the one server, relay and volume control.
class ServerControl final : public IServerControl {
 public:
  explicit ServerControl(VolumeServer& server) : wired_(server) {}
  void Connect(IVolumeControl* control) override { wired_.Connect(control); }
  bool BindAndListen(uint16_t port) override { return wired_.Server().BindAndListen(port); }
  bool CanBind(uint16_t port) override {
    Socket probe(CreateTcpSocket());
    return probe.Valid() && BindAnyAddress(probe.Get(), port);
  }
  bool Start() override { return wired_.Server().Start(); }
  bool Stop() override { return wired_.Server().Stop(); }
  void RegisterChangeCallback(IVolumeControl*) override { wired_.RegisterChangeCallback(); }
  void UnregisterChangeCallback(IVolumeControl*) override { wired_.UnregisterChangeCallback(); }
  bool BroadcastState() override { return wired_.Relay().BroadcastState(); }
  void SendKeepAlive() override { wired_.Relay().SendKeepAlive(); }

 private:
  VolumeServer& wired_;
};

}  // namespace

int RunQuavixServer(ShellPlatform& platform) {
  // The one server and the one relay; they outlive every thread that uses them, since the
  // shell stops the server before returning.
  VolumeServer* retried = nullptr;  // set before any thread can arm the retry
  LoopRetryTimer retryTimer(platform.loop, SystemClock(),
                            [&retried] { retried->Relay().OnVolumeChanged(); });
  VolumeServer server(SystemClock(), retryTimer);
  retried = &server;

  const std::unique_ptr<IServiceAnnouncer> announcer =
      platform.announce ? CreateServiceAnnouncer() : nullptr;
  platform.announcer = announcer.get();
  const std::unique_ptr<IStartAtLogin> startAtLogin = CreateStartAtLogin();
  platform.startAtLogin = startAtLogin.get();

  PlatformNetworking networking;
  FactoryBackend backend;
  ServerControl serverControl(server);
  ShellServices services{platform, networking, backend, serverControl};
  const int exitCode = RunShell(services);
  if (!server.Server().AllReadersEnded()) {
    // A reader is still inside the volume control (a stuck sound system). The server's
    // destructor would wait for it without a bound, so the process ends here, with the
    // volume control, the relay and the server still in place under that reader.
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  return exitCode;
}

// The process-wide objects and the adapters that let the shell drive them.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Shell.h"
#include "app/ShellServices.h"
#include "app/ShellTimers.h"
#include "audio/VolumeControlFactory.h"
#include "net/IClock.h"
#include "net/NetworkServer.h"
#include "net/Networking.h"
#include "net/Socket.h"
#include "net/VolumeRelay.h"

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

class RelayedServer final : public IServerControl {
 public:
  RelayedServer(NetworkServer& server, MyClientListener& relay) : server_(server), relay_(relay) {}
  void Connect(IVolumeControl* stateSource) override {
    server_.SetStateSource(stateSource);
    server_.SetExternalListener(&relay_);
  }
  bool BindAndListen(uint16_t port) override { return server_.BindAndListen(port); }
  bool CanBind(uint16_t port) override {
    Socket probe(CreateTcpSocket());
    return probe.Valid() && BindAnyAddress(probe.Get(), port);
  }
  bool Start() override { return server_.Start(); }
  bool Stop() override { return server_.Stop(); }
  void RegisterChangeCallback(IVolumeControl* control) override {
    control->SetChangeCallback(OnVolumeChanged, 0);
  }
  void UnregisterChangeCallback(IVolumeControl* control) override {
    control->SetChangeCallback(nullptr, 0);
  }
  bool BroadcastState() override { return relay_.BroadcastState(); }
  void SendKeepAlive() override { relay_.SendKeepAlive(); }

 private:
  NetworkServer& server_;
  MyClientListener& relay_;
};

}  // namespace

int RunQuavixServer(ShellPlatform& platform) {
  // The one server and the one relay; they outlive every thread that uses them, since the
  // shell stops the server before returning.
  NetworkServer server(SystemClock());
  MyClientListener* retried = nullptr;  // set before any thread can arm the retry
  LoopRetryTimer retryTimer(platform.loop, SystemClock(),
                            [&retried] { retried->OnVolumeChanged(); });
  MyClientListener relay(server, retryTimer);
  retried = &relay;
  SetVolumeChangedRelay(&relay);

  const std::unique_ptr<IServiceAnnouncer> announcer =
      platform.announce ? CreateServiceAnnouncer() : nullptr;
  platform.announcer = announcer.get();
  const std::unique_ptr<IStartAtLogin> startAtLogin = CreateStartAtLogin();
  platform.startAtLogin = startAtLogin.get();

  PlatformNetworking networking;
  FactoryBackend backend;
  RelayedServer serverControl(server, relay);
  ShellServices services{platform, networking, backend, serverControl};
  const int exitCode = RunShell(services);
  if (!server.AllReadersEnded()) {
    // A reader is still inside the volume control (a stuck sound system). The server's
    // destructor would wait for it without a bound, so the process ends here, with the
    // volume control, the relay and the server still in place under that reader.
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  SetVolumeChangedRelay(nullptr);
  return exitCode;
}

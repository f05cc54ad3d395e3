// The process-wide objects and the adapters that let the shell drive them.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/ServerSettings.h"
#include "app/Shell.h"
#include "app/ShellServices.h"
#include "app/ShellTimers.h"
#include "audio/VolumeControlFactory.h"
#include "base/Log.h"
#include "base/Texts.h"
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
  void Configure(const ServerSettings& settings) override {
    listen_ = settings.listen;
    pagePort_ = settings.webPort;
    wired_.Configure(settings.listen, settings.access);
  }
  bool BindAndListen(uint16_t port) override {
    if (!wired_.Server().BindAndListen(port)) return false;
    if (pagePort_ != 0 && !wired_.Server().BindAndListenPage(pagePort_, site_)) {
      LogError(std::string(kTextPageBindFailed) + " " + std::to_string(pagePort_));
    }
    return true;
  }
  std::optional<IpAddress> MissingAddress() override {
    if (wired_.Server().LastListenResult() != ListenResult::NotLocal) return std::nullopt;
    return wired_.Server().FailedAddress();
  }
  uint16_t PagePort() override { return wired_.Server().PagePort(); }
  bool CanBind(uint16_t port) override {
    std::vector<Socket> probes;  // all held at once, as the server will hold them
    const size_t count = listen_.empty() ? 1 : listen_.size();
    for (size_t i = 0; i < count; ++i) {
      SocketHandle handle = kInvalidSocket;
      if (OpenListener(listen_.empty() ? nullptr : &listen_[i], port, &handle) !=
          ListenResult::Listening) {
        return false;
      }
      probes.emplace_back(handle);
    }
    return true;
  }
  bool Start() override { return wired_.Server().Start(); }
  bool Stop() override { return wired_.Server().Stop(); }
  void RegisterChangeCallback(IVolumeControl*) override { wired_.RegisterChangeCallback(); }
  void UnregisterChangeCallback(IVolumeControl*) override { wired_.UnregisterChangeCallback(); }
  bool BroadcastState() override { return wired_.Relay().BroadcastState(); }
  void SendKeepAlive() override { wired_.Relay().SendKeepAlive(); }

 private:
  VolumeServer& wired_;
  std::vector<IpAddress> listen_;
  uint16_t pagePort_ = 0;
  const PageSite site_ = LocalPageSite();
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

  // Quietly: the shell names any bad setting once when it starts.
  platform.announce = LoadServerSettings(platform.store, true).announce;
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

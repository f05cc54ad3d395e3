// The process-wide objects and the adapters that let the shell drive them.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/ServerSettings.h"
#include "app/Shell.h"
#include "app/ShellServices.h"
#include "app/ShellTimers.h"
#include "audio/VolumeControlFactory.h"
#include "base/Log.h"
#include "base/Texts.h"
#include "media/IMediaControl.h"
#include "net/IClock.h"
#include "net/Networking.h"
#include "net/VolumeServer.h"
#include "net/page/pairing/PairingSite.h"

namespace {

// How long quitting waits for the name daemon to take the withdrawal.
constexpr int kAnnouncerStopMs = 500;

class PlatformNetworking final : public INetworking {
 public:
  NetStartResult Start() override { return StartNetworking(); }
  void Stop() override { StopNetworking(); }
};

// The system's DNS-SD responder, reached only once there is something to announce: a second
// instance, a start that fails and a server with the announce setting off never start it.
class SystemAnnouncer final : public IServiceAnnouncer {
 public:
  void Announce(uint16_t port) override {
    if (!announcer_) announcer_ = CreateServiceAnnouncer();
    announcer_->Announce(port);
  }
  void Withdraw() override {
    if (announcer_) announcer_->Withdraw();
  }
  bool Stop(int boundMs) override { return !announcer_ || announcer_->Stop(boundMs); }

 private:
  std::unique_ptr<IServiceAnnouncer> announcer_;
};

class FactoryBackend final : public IVolumeBackend {
 public:
  bool Create(IPollTimer& pollTimer, IErrorReporter& reporter) override {
    return CreateVolumeControl(pollTimer, reporter);
  }
  IVolumeControl* Current() override { return CurrentVolumeControl(); }
  void Destroy() override { DestroyCurrentVolumeControl(); }
};

// Paired phones where no folder can keep them (neither XDG_CONFIG_HOME nor HOME is set):
// pairing still guards the page, and phones pair again after a restart.
class PhonesInMemory final : public IPairedDeviceStore {
 public:
  std::string Location() const override { return "memory"; }
  std::optional<std::vector<PairedDevice>> Load() override { return phones_; }
  bool Save(const std::vector<PairedDevice>& phones) override {
    phones_ = phones;
    return true;
  }

 private:
  std::vector<PairedDevice> phones_;
};

// The shell's view of the one server, relay and volume control.
class ServerControl final : public IServerControl {
 public:
  ServerControl(VolumeServer& server, PairingSite& pairing, IMediaControl& media)
      : wired_(server), pairing_(pairing), media_(media) {}
  void Connect(IVolumeControl* control) override { wired_.Connect(control); }
  void Configure(const ServerSettings& settings) override {
    pagePort_ = settings.webPort;
    site_.pairing = settings.pairing ? &pairing_ : nullptr;
    wired_.Configure(settings.listen, settings.access);
  }
  void SetAccess(const AccessPolicy& access) override { wired_.Server().SetAccessPolicy(access); }
  bool BindAndListen(uint16_t port) override {
    if (!wired_.Server().BindAndListen(port)) return false;
    if (pagePort_ != 0 && !wired_.Page().Listen(pagePort_, site_)) {
      LogError(std::string(kTextPageBindFailed) + " " + std::to_string(pagePort_));
    }
    return true;
  }
  std::optional<IpAddress> MissingAddress() override {
    if (wired_.Server().LastListenResult() != ListenResult::NotLocal) return std::nullopt;
    return wired_.Server().FailedAddress();
  }
  uint16_t PagePort() override { return wired_.Page().Port(); }
  bool Pairs() override { return site_.pairing != nullptr; }
  void SetPageAddress(const std::string& hostAndPort) override {
    pairing_.SetPageAddress(hostAndPort);
  }
  std::optional<std::string> NewPairingLink() override {
    if (!Pairs() || PagePort() == 0) return std::nullopt;
    return pairing_.NewLink();
  }
  bool CanBind(uint16_t port) override { return wired_.Server().CanListen(port); }
  bool Start() override {
    // The player is followed from the first start on, when the main loop is about to run and
    // carries the system's messages; a start that fails for want of a bus leaves the buttons
    // disabled.
    if (!mediaConnected_) {
      media_.Start();
      wired_.ConnectMedia(&media_);
      mediaConnected_ = true;
    }
    return wired_.Server().Start();
  }
  // Main thread, after the shell has run.
  void StopMedia() {
    if (!mediaConnected_) return;
    wired_.DisconnectMedia();
    media_.Stop();
  }
  bool Stop() override { return wired_.Server().Stop(); }
  void RegisterChangeCallback(IVolumeControl*) override { wired_.RegisterChangeCallback(); }
  void UnregisterChangeCallback(IVolumeControl*) override { wired_.UnregisterChangeCallback(); }
  bool BroadcastState() override { return wired_.Relay().BroadcastState(); }
  void SendKeepAlive() override { wired_.Relay().SendKeepAlive(); }

 private:
  VolumeServer& wired_;
  PairingSite& pairing_;
  IMediaControl& media_;
  bool mediaConnected_ = false;
  uint16_t pagePort_ = 0;
  PageSite site_ = LocalPageSite();
};

}  // namespace

int RunQuavixServer(ShellPlatform& platform) {
  // The one server and the one relay; they outlive every thread that uses them, since the
  // shell stops the server before returning.
  // The player the page's buttons drive; it outlives the server, whose page readers use it.
  const std::unique_ptr<IMediaControl> media = CreateMediaControl();
  VolumeServer* retried = nullptr;  // set before any thread can arm the retry
  LoopRetryTimer retryTimer(platform.loop, SystemClock(),
                            [&retried] { retried->Relay().OnVolumeChanged(); });
  VolumeServer server(SystemClock(), retryTimer);
  retried = &server;

  // The phones paired with the page, checked on the server's clock.
  PhonesInMemory phonesInMemory;
  if (platform.pairedPhones == nullptr) {
    LogError(
        "paired phones are kept only until the server stops: there is no folder to keep "
        "them in");
  }
  Pairing pairing(SystemClock(), platform.pairedPhones ? *platform.pairedPhones : phonesInMemory);
  PairingSite pairingSite(pairing, LocalPageSite().computerName);

  PlatformNetworking networking;
  FactoryBackend backend;
  ServerControl serverControl(server, pairingSite, *media);
  SystemAnnouncer announcer;
  const std::unique_ptr<IStartAtLogin> startAtLogin = CreateStartAtLogin();
  ShellServices services{platform,      networking, backend,
                         serverControl, announcer,  startAtLogin.get()};
  const int exitCode = RunShell(services);
  serverControl.StopMedia();
  // A withdrawal asked at quit reaches a daemon that answers; one that does not holds up
  // nothing.
  const bool announcerEnded = announcer.Stop(kAnnouncerStopMs);
  if (!server.Server().AllReadersEnded() || !announcerEnded) {
    // A reader is still inside the volume control (a stuck sound system), or the announcer
    // inside a call to a daemon that does not answer. Their destructors would wait without a
    // bound, so the process ends here, with everything still in place under them.
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  return exitCode;
}

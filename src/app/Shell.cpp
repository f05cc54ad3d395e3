#include "app/Shell.h"

#include "app/ShellNames.h"
#include "app/ShellTimers.h"
#include "base/Log.h"
#include "base/Texts.h"

namespace {

// What start-up has acquired so far; Release gives it back in the order of the normal
// shut-down, whichever step failed.
class Acquired {
 public:
  explicit Acquired(ShellServices& services) : s_(services) {}
  ~Acquired() { Release(); }

  void Guard() { guard_ = true; }
  void Networking() { networking_ = true; }
  void Backend() { backend_ = true; }
  void Server() { server_ = true; }
  void Callback() { callback_ = true; }
  void Requests() { requests_ = true; }

  void Release() {
    // Before the guard goes: a new instance may open its own channel at once.
    if (requests_) s_.platform.requests->Close();
    IVolumeControl* control = s_.backend.Current();
    if (callback_ && control != nullptr) s_.server.UnregisterChangeCallback(control);
    // A reader still inside the volume control keeps it alive: destroying it then would pull
    // it from under that reader, and quitting must not wait for a stuck sound system.
    const bool readersEnded = !server_ || s_.server.Stop();
    if (backend_ && readersEnded) {
      if (control != nullptr) control->Shutdown();
      s_.backend.Destroy();
    }
    if (networking_) s_.networking.Stop();
    if (guard_) s_.platform.guard.Release();
    guard_ = networking_ = backend_ = server_ = callback_ = requests_ = false;
  }

 private:
  ShellServices& s_;
  bool guard_ = false, networking_ = false, backend_ = false, server_ = false, callback_ = false,
       requests_ = false;
};

}  // namespace

int RunShell(ShellServices& services) {
  ShellPlatform& platform = services.platform;
  Shell shell(services);
  LoggedBoxes& boxes = shell.boxes;
  Acquired acquired(services);

  const GuardResult guard = platform.guard.Acquire(kInstanceGuardName);
  acquired.Guard();  // a handle may exist even when another instance holds the guard
  if (guard == GuardResult::AlreadyRunning) {
    acquired.Release();
    boxes.ShowError(kTextAlreadyRunning, kTextAlreadyRunningTitle);
    return 0;
  }

  // A start that gave the wrong version has already cleaned up after itself.
  if (services.networking.Start() != NetStartResult::Ok) {
    acquired.Release();
    boxes.ShowError(kTextNetworkingFailed, kTextErrorTitle);
    return 1;
  }
  acquired.Networking();

  if (!platform.loop.Open(shell.tray)) {
    acquired.Release();
    LogError(kTextWindowFailed);  // no box: there is no window to own one
    return 1;
  }

  // The one reading of the settings at start-up, naming each bad value. A file that cannot be
  // read ends start-up: its defaults could serve more widely than the user wrote.
  std::string problem;
  if (!shell.settings.Reload(&problem)) {
    acquired.Release();
    boxes.ShowError(std::string(kTextSettingsUnreadable) + ": " + problem, kTextErrorTitle);
    return 1;
  }
  const ServerSettings& settings = shell.settings.Current();

  LoopPollTimer pollTimer(platform.loop);
  if (!services.backend.Create(pollTimer, boxes)) return 1;
  acquired.Backend();
  IVolumeControl* control = services.backend.Current();

  // Before binding, so the accept thread and every connection see both from the first client.
  services.server.Connect(control);
  services.server.Configure(settings);
  const uint16_t port = settings.port;
  acquired.Server();  // a failed bind may still hold a socket; Stop lets it go
  if (!services.server.BindAndListen(port)) {
    const std::optional<IpAddress> missing = services.server.MissingAddress();
    acquired.Release();
    if (missing) {
      boxes.ShowError(
          std::string(kTextAddressNotLocal) + " " + IpAddressText(*missing) + " (setting listen)",
          kTextErrorTitle);
    } else {
      boxes.Report(kTextBindFailed, kTextErrorTitle, port);
    }
    return 1;
  }

  // Before the accept thread starts, so no change after that is missed.
  services.server.RegisterChangeCallback(control);
  acquired.Callback();
  platform.loop.QuitInOrderFromNowOn();
  if (!services.server.Start()) {
    acquired.Release();
    boxes.ShowError(kTextThreadFailed, kTextErrorTitle);
    return 1;
  }

  shell.listening.Started(port);
  shell.tray.Show();
  platform.loop.StartTimer(ShellTimer::KeepAlive, kKeepAlivePeriodMs,
                           [&services] { services.server.SendKeepAlive(); });
  // Only the guard's holder listens for requests; a server without a guard cannot be reached.
  if (platform.requests != nullptr && guard == GuardResult::Acquired &&
      platform.requests->Open([&shell](const std::string& line) {
        return shell.tray.Quitting() ? ReplyLine({false, "the server is quitting"})
                                     : shell.requests.Answer(line);
      })) {
    acquired.Requests();
  }
  const int exitCode = platform.loop.Run();

  // The callback goes before the server stops, and the server (with every reader thread that
  // may call the volume control) before the backend.
  acquired.Release();
  return exitCode;
}

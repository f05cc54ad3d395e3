#pragma once
// Fakes of every service the shell uses, wired together in FakeShell. They keep outcomes (the
// port listened on, the icon shown, the armed timers, the boxes shown), and the few ordering
// rules of shut-down are checked where they would be broken.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/SettingsFlow.h"
#include "app/ShellNames.h"
#include "app/ShellServices.h"
#include "base/Log.h"
#include "fakes/FakeVolumeControl.h"

// A loop driven by hand: tasks queue until RunTasks; timers tick when the test says (Tick), or
// as their periods pass on the loop's own clock (AdvanceMs).
class FakeMainLoop final : public IMainLoop {
 public:
  bool Open(IShellEvents& shellEvents) override {
    if (openResult) events = &shellEvents;
    return openResult;
  }
  void RunOnMainThread(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    if (!quitCode_) tasks_.push_back(std::move(task));
  }
  void StartTimer(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) override {
    std::lock_guard lock(mutex_);
    if (quitCode_) return;
    timers_[timer] = {periodMs, std::move(tick)};
    due_[timer] = nowMs_ + periodMs;
  }
  void StopTimer(ShellTimer timer) override {
    std::lock_guard lock(mutex_);
    timers_.erase(timer);
  }
  // Moves the loop's clock on by `ms`, ticking every timer whose period ends on the way, in
  // time order. A timer started again inside its tick counts its period from then.
  void AdvanceMs(uint32_t ms) {
    const uint64_t until = nowMs_ + ms;
    for (;;) {
      std::function<void()> tick;
      ShellTimer fired{};
      uint64_t firedAt = 0;
      {
        std::lock_guard lock(mutex_);
        for (const auto& [timer, entry] : timers_) {
          const uint64_t due = due_[timer];
          if (due <= until && (!tick || due < firedAt)) {
            tick = entry.second;
            fired = timer;
            firedAt = due;
          }
        }
        if (!tick) break;
        nowMs_ = firedAt;
      }
      tick();
      std::lock_guard lock(mutex_);
      auto it = timers_.find(fired);
      if (it != timers_.end() && due_[fired] == firedAt) due_[fired] = firedAt + it->second.first;
    }
    std::lock_guard lock(mutex_);
    nowMs_ = until;
  }
  void QuitInOrderFromNowOn() override { quitsInOrder = true; }
  void Quit(int exitCode) override {
    std::lock_guard lock(mutex_);
    quitCode_ = exitCode;
    timers_.clear();
    tasks_.clear();
  }
  // Runs `inLoop`, then the queued tasks; a loop that nobody quits ends with kNeverQuit.
  int Run() override {
    if (inLoop) inLoop();
    RunTasks();
    return QuitCode().value_or(kNeverQuit);
  }

  void RunTasks() {
    while (true) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }
  // One tick of `timer`; false when it does not run.
  bool Tick(ShellTimer timer) {
    std::function<void()> tick;
    {
      std::lock_guard lock(mutex_);
      auto it = timers_.find(timer);
      if (it == timers_.end()) return false;
      tick = it->second.second;
    }
    tick();
    return true;
  }
  std::optional<uint32_t> Period(ShellTimer timer) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(timer);
    return it == timers_.end() ? std::nullopt : std::optional<uint32_t>(it->second.first);
  }
  std::optional<int> QuitCode() {
    std::lock_guard lock(mutex_);
    return quitCode_;
  }

  bool openResult = true;
  bool quitsInOrder = false;
  IShellEvents* events = nullptr;
  std::function<void()> inLoop;
  static constexpr int kNeverQuit = -1000;

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  std::map<ShellTimer, std::pair<uint32_t, std::function<void()>>> timers_;
  std::map<ShellTimer, uint64_t> due_;
  uint64_t nowMs_ = 0;
  std::optional<int> quitCode_;
};

// A notification area that may be missing; `Appear` brings it up as a tray host would.
class FakeTrayIcon final : public ITrayIcon {
 public:
  bool Add(IShellEvents& events) override {
    events_ = &events;
    shown = available;
    return shown;
  }
  void Remove() override { shown = false; }
  void SetToolTip(const std::string& text) override { toolTip = text; }
  void Appear() {
    available = true;
    if (events_ != nullptr) events_->OnNotificationAreaAppeared();
  }
  bool available = true;
  bool shown = false;
  std::string toolTip;

 private:
  IShellEvents* events_ = nullptr;
};

class FakePopupMenu final : public IPopupMenu {
 public:
  MenuCommand Track(const std::vector<PopupMenuItem>& items) override {
    ++tracks;
    lastItems = items;
    return choice;
  }
  MenuCommand choice = MenuCommand::None;
  int tracks = 0;
  std::vector<PopupMenuItem> lastItems;
};

class RecordingErrorReporter final : public IErrorReporter {
 public:
  void ShowError(const std::string& text, const std::string& title) override {
    shown.emplace_back(text, title);
  }
  std::vector<std::pair<std::string, std::string>> shown;
};

// Answers as the user would: `typed` texts are offered to OK in turn (each refusal keeps the
// dialog open); when they run out the user cancels. `result` overrides everything when set.
class FakeSettingsDialog final : public ISettingsDialog {
 public:
  int Run(SettingsDialogLogic& logic) override {
    ++runs;
    initialText = logic.InitialText();
    shownAllowOutside = logic.allowOutside;
    initialStartAtLogin = logic.StartAtLogin();
    if (result) return *result;
    if (startAtLogin) logic.SetStartAtLogin(*startAtLogin);
    for (const std::string& text : typed) {
      const int port = logic.OnOk(text, boxes);
      if (port == 0) continue;
      if (checkAllowOutside) logic.allowOutside = *checkAllowOutside;
      return port;
    }
    return 0;
  }
  // The box as the user leaves it at OK (untouched when empty), and as it was shown.
  std::optional<bool> checkAllowOutside;
  bool shownAllowOutside = false;
  std::optional<int> result;
  std::vector<std::string> typed;
  RecordingErrorReporter boxes;
  std::string initialText;
  bool initialStartAtLogin = false;
  std::optional<bool> startAtLogin;  // the login box as the user leaves it; unset: untouched
  int runs = 0;
};

// Keeps what is announced now.
class FakeServiceAnnouncer final : public IServiceAnnouncer {
 public:
  void Announce(uint16_t port) override { announced = port; }
  void Withdraw() override { announced.reset(); }
  bool Stop(int) override { return true; }
  std::optional<uint16_t> announced;
};

class FakeStartAtLogin final : public IStartAtLogin {
 public:
  bool Enabled() override { return enabled; }
  bool SetEnabled(bool on) override {
    ++sets;
    if (refuse) return false;
    enabled = on;
    return true;
  }
  bool enabled = false;
  bool refuse = false;
  int sets = 0;
};

class FakeSettingStore final : public ISettingStore {
 public:
  std::string Location() const override { return "settings.conf"; }
  std::string StoredName(const Setting& setting) const override { return std::string(setting.key); }
  bool Load(std::string* problem) override {
    if (!readable) *problem = "Permission denied";
    return readable;
  }
  std::optional<std::string> Read(const Setting& setting) override {
    auto it = values.find(StoredName(setting));
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  std::vector<std::string> Unknown() const override { return unknown; }
  bool Write(const Setting& setting, const std::string& text) override {
    ++writes;
    if (!writeResult) return false;
    values[StoredName(setting)] = text;
    return true;
  }
  bool Remove(const Setting& setting) override {
    ++writes;
    if (!writeResult) return false;
    values.erase(StoredName(setting));
    return true;
  }
  void SetPort(uint32_t port) { values["port"] = std::to_string(port); }

  std::map<std::string, std::string> values;
  std::vector<std::string> unknown;
  bool readable = true;
  bool writeResult = true;
  int writes = 0;
};

class FakeInstanceGuard final : public IInstanceGuard {
 public:
  GuardResult Acquire(const std::string& name) override {
    acquiredName = name;
    held = true;
    return result;
  }
  void Release() override { held = false; }
  GuardResult result = GuardResult::Acquired;
  std::string acquiredName;
  bool held = false;
};

// Like the platform's: a start that fails in any way has already cleaned up after itself, so
// every Stop must match one successful Start.
class FakeNetworking final : public INetworking {
 public:
  NetStartResult Start() override {
    starts += result == NetStartResult::Ok;
    return result;
  }
  void Stop() override { ++stops; }
  NetStartResult result = NetStartResult::Ok;
  int starts = 0;
  int stops = 0;
};

class FakeServerControl;

class FakeVolumeBackend final : public IVolumeBackend {
 public:
  explicit FakeVolumeBackend(FakeServerControl& server) : server_(server) {}
  bool Create(IPollTimer& timer, IErrorReporter& reporter) override {
    pollTimer = &timer;
    if (!createResult) {
      reporter.ShowError("Could not locate audio device.", "Quavix Server Error");
      return false;
    }
    control = std::make_unique<CheckedControl>(*this);
    return true;
  }
  IVolumeControl* Current() override { return control.get(); }
  void Destroy() override { control.reset(); }

  // Its Shutdown notes a server that still runs: reader threads could still call it.
  class CheckedControl final : public IVolumeControl {
   public:
    explicit CheckedControl(FakeVolumeBackend& backend) : backend_(backend) {}
    InitResult Initialize() override { return InitResult::Ok; }
    bool Shutdown() override;
    bool GetState(VolumeState* state) override { return inner.GetState(state); }
    bool SetState(const VolumeState* state) override { return inner.SetState(state); }
    void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override {
      inner.SetChangeCallback(callback, userData);
    }
    FakeVolumeControl inner;

   private:
    FakeVolumeBackend& backend_;
  };

  bool createResult = true;
  bool shutDown = false;
  bool shutDownWhileServing = false;
  IPollTimer* pollTimer = nullptr;
  std::unique_ptr<CheckedControl> control;

 private:
  FakeServerControl& server_;
};

class FakeServerControl final : public IServerControl {
 public:
  void Connect(IVolumeControl* stateSource) override { source = stateSource; }
  void Configure(const ServerSettings& settings) override {
    configured = settings;
    pagePort = settings.webPort;
    pairs = settings.pairing;
  }
  void SetAccess(const AccessPolicy& access) override {
    if (!configured) configured = ServerSettings{};
    configured->access = access;
  }
  std::optional<IpAddress> MissingAddress() override { return missingAddress; }
  std::optional<ServerSettings> configured;
  std::optional<IpAddress> missingAddress;
  bool BindAndListen(uint16_t port) override {
    const bool ok = !busyPorts.count(port);
    if (ok) listeningPort = port;
    return ok;
  }
  uint16_t PagePort() override { return running ? pagePort : 0; }
  bool Pairs() override { return pairs; }
  void SetPageAddress(const std::string& hostAndPort) override { pageAddress = hostAndPort; }
  std::optional<std::string> NewPairingLink() override {
    if (!pairs || PagePort() == 0 || pageAddress.empty()) return std::nullopt;
    return "http://" + pageAddress + "/#pair=" + std::string(32, 'c');
  }
  bool CanBind(uint16_t port) override { return probeSaysFree || !busyPorts.count(port); }
  bool Start() override {
    if (onStart) onStart();
    if (startResult && listeningPort) running = true;
    return startResult;
  }
  bool Stop() override {
    if (callbackRegistered) stoppedWithCallback = true;
    if (running) clientsDropped = true;
    running = false;
    listeningPort.reset();
    return !readerStuck;
  }
  void RegisterChangeCallback(IVolumeControl*) override { callbackRegistered = true; }
  void UnregisterChangeCallback(IVolumeControl*) override { callbackRegistered = false; }
  bool BroadcastState() override {
    ++broadcasts;
    return broadcastDefers;
  }
  void SendKeepAlive() override { ++keepAlives; }
  // Serving: listening with the accept thread running.
  std::optional<uint16_t> Serving() const { return running ? listeningPort : std::nullopt; }

  std::map<uint16_t, bool> busyPorts;
  bool probeSaysFree = false;  // the port is taken between the probe and the bind
  bool startResult = true;
  bool running = false;
  bool callbackRegistered = false;
  bool stoppedWithCallback = false;
  bool readerStuck = false;  // Stop reports a reader still inside the volume control
  std::function<void()> onStart;
  std::optional<uint16_t> listeningPort;
  IVolumeControl* source = nullptr;
  bool broadcastDefers = false;
  bool clientsDropped = false;  // a running server was stopped: every client lost its connection
  int broadcasts = 0;
  int keepAlives = 0;
  uint16_t pagePort = 0;  // the page this fake serves while running; 0: none
  bool pairs = false;
  std::string pageAddress;  // where pairing links send phones
};

inline bool FakeVolumeBackend::CheckedControl::Shutdown() {
  backend_.shutDown = true;
  if (backend_.server_.running) backend_.shutDownWhileServing = true;
  return true;
}

// The settings `store` holds, each bad value logged unless `quiet`; the test fails when the
// store cannot be read.
inline ServerSettings LoadedSettings(ISettingStore& store, bool quiet = false) {
  ServerSettings settings;
  std::string problem;
  EXPECT_TRUE(LoadServerSettings(store, &settings, &problem, quiet)) << problem;
  return settings;
}

// Every fake wired together, as RunQuavixServer wires the real ones. What the shell writes to
// stdout and to the log is kept for Out() and Err().
struct FakeShell {
  FakeShell() {
    localAddresses = {*ParseIpAddress("192.168.1.20")};
    platform.openUrl = [this](const std::string& url) { openedUrls.push_back(url); };
    // In a started shell, a stop signal that still ended the process at once would drop what
    // a client just sent.
    server.onStart = [this] {
      EXPECT_TRUE(loop.events == nullptr || loop.quitsInOrder) << "clients served too early";
    };
  }
  ~FakeShell() { std::fclose(out); }
  std::string Out() { return Contents(out); }
  std::string Err() { return err.str(); }
  static std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  FakeInstanceGuard guard;
  FakeMainLoop loop;
  RecordingErrorReporter messageBox;
  FakeTrayIcon tray;
  FakePopupMenu menu;
  FakeSettingsDialog dialog;
  FakeSettingStore store;
  FakeNetworking networking;
  FakeServerControl server;
  FakeVolumeBackend backend{server};
  FakeServiceAnnouncer announcer;
  FakeStartAtLogin startAtLogin;
  std::vector<IpAddress> localAddresses;
  std::FILE* out = std::tmpfile();
  std::ostringstream err;
  ScopedLogStream log{err};
  ShellPlatform platform{
      guard, loop, messageBox, tray, menu, dialog, store, [this] { return localAddresses; }, out};
  std::vector<std::string> openedUrls;
  ShellServices services{platform, networking, backend, server, announcer, &startAtLogin};
};

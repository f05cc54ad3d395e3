#pragma once
// Fakes of every service the shell uses. Each records what it was asked, in one shared journal,
// so tests can check the order of start-up and shut-down across services.

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/PortSettings.h"
#include "app/ShellIds.h"
#include "app/ShellServices.h"
#include "fakes/FakeVolumeControl.h"

class Journal {
 public:
  void Add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  std::vector<std::string> Entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

struct PostedMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

class FakeMessageWindow final : public IMessageWindow {
 public:
  explicit FakeMessageWindow(Journal& journal) : journal_(journal) {}
  bool createResult = true;

  bool Create(IWindowProcedure* procedure) override {
    journal_.Add("window.create");
    if (createResult) procedure_ = procedure;
    return createResult;
  }
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    posted_.push_back({message, wParam, lParam});
  }
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    journal_.Add("window.send " + std::to_string(message));
    return procedure_->HandleMessage(message, wParam, lParam);
  }
  intptr_t DefaultProcedure(uint32_t message, uintptr_t, intptr_t) override {
    {
      std::lock_guard lock(mutex_);
      defaultMessages_.push_back(message);
    }
    if (message == kWmClose) Destroy();
    return message == kWmClose ? 0 : -7;  // a recognisable default result
  }
  void Destroy() override {
    if (destroyed_) return;
    journal_.Add("window.destroy");
    {
      std::lock_guard lock(mutex_);
      timers_.clear();
    }
    procedure_->HandleMessage(kWmDestroy, 0, 0);
    destroyed_ = true;
  }
  void SetTimer(uint32_t id, uint32_t periodMs) override {
    std::lock_guard lock(mutex_);
    if (destroyed_) return;
    timers_[id] = periodMs;
    ++armCount_[id];
  }
  void SetTimerProcedure(uint32_t id, uint32_t periodMs, TimerProcedure) override {
    SetTimer(id, periodMs);
  }
  void KillTimer(uint32_t id) override {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
  }
  void PostQuit(int exitCode) override {
    journal_.Add("window.quit " + std::to_string(exitCode));
    quitCode_ = exitCode;
  }
  // Dispatches what was posted (and whatever that posts) until a quit; runs `inLoop` first.
  int RunMessageLoop() override {
    journal_.Add("window.loop");
    if (inLoop) inLoop();
    while (!quitCode_) {
      PostedMessage next;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return kLoopStarved;
        next = posted_.front();
        posted_.pop_front();
      }
      if (!destroyed_) procedure_->HandleMessage(next.message, next.wParam, next.lParam);
    }
    return *quitCode_;
  }

  // Delivers a message as the platform would, from the loop (main thread).
  intptr_t Deliver(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    return procedure_->HandleMessage(message, wParam, lParam);
  }
  std::vector<PostedMessage> TakePosted() {
    std::lock_guard lock(mutex_);
    std::vector<PostedMessage> out(posted_.begin(), posted_.end());
    posted_.clear();
    return out;
  }
  bool TimerArmed(uint32_t id) {
    std::lock_guard lock(mutex_);
    return timers_.count(id) != 0;
  }
  uint32_t TimerPeriod(uint32_t id) {
    std::lock_guard lock(mutex_);
    return timers_.count(id) ? timers_[id] : 0;
  }
  int ArmCount(uint32_t id) {
    std::lock_guard lock(mutex_);
    return armCount_[id];
  }
  std::vector<uint32_t> DefaultMessages() {
    std::lock_guard lock(mutex_);
    return defaultMessages_;
  }
  bool Destroyed() const { return destroyed_; }
  std::optional<int> QuitCode() const { return quitCode_; }

  std::function<void()> inLoop;
  static constexpr int kLoopStarved = -1000;

 private:
  Journal& journal_;
  IWindowProcedure* procedure_ = nullptr;
  std::mutex mutex_;
  std::deque<PostedMessage> posted_;
  std::map<uint32_t, uint32_t> timers_;
  std::map<uint32_t, int> armCount_;
  std::vector<uint32_t> defaultMessages_;
  bool destroyed_ = false;
  std::optional<int> quitCode_;
};

class FakeTrayIcon final : public ITrayIcon {
 public:
  explicit FakeTrayIcon(Journal& journal) : journal_(journal) {}
  bool Add() override {
    journal_.Add("tray.add");
    shown = true;
    return true;
  }
  void Delete() override {
    journal_.Add("tray.delete");
    shown = false;
  }
  bool shown = false;

 private:
  Journal& journal_;
};

class FakePopupMenu final : public IPopupMenu {
 public:
  uint32_t Track(const std::vector<PopupMenuItem>& items) override {
    ++tracks;
    lastItems = items;
    return choice;
  }
  uint32_t choice = 0;
  int tracks = 0;
  std::vector<PopupMenuItem> lastItems;
};

class JournalErrorReporter final : public IErrorReporter {
 public:
  explicit JournalErrorReporter(Journal* journal = nullptr) : journal_(journal) {}
  void ShowError(const std::string& text, const std::string& title) override {
    if (journal_ != nullptr) journal_->Add("box " + title + ": " + text);
    shown.emplace_back(text, title);
  }
  std::vector<std::pair<std::string, std::string>> shown;

 private:
  Journal* journal_;
};

// Answers as the user would: `typed` texts are offered to OK in turn (each refusal keeps the
// dialog open); when they run out the user cancels. `result` overrides everything when set.
class FakeSettingsDialog final : public ISettingsDialog {
 public:
  int Run(SettingsDialogLogic& logic) override {
    ++runs;
    initialText = logic.InitialText();
    if (result) return *result;
    for (const std::string& text : typed) {
      const int port = logic.OnOk(text, boxes);
      if (port != 0) return port;
    }
    return 0;
  }
  std::optional<int> result;
  std::vector<std::string> typed;
  JournalErrorReporter boxes;
  std::string initialText;
  int runs = 0;
};

class FakeSettingStore final : public ISettingStore {
 public:
  bool Read(const std::string& key, const std::string& name, uint8_t* buffer,
            size_t* size) override {
    ++reads;
    auto it = values.find(key + "|" + name);
    if (it == values.end() || !readable || it->second.size() > *size) return false;
    std::memcpy(buffer, it->second.data(), it->second.size());
    *size = it->second.size();
    return true;
  }
  bool WriteUint32(const std::string& key, const std::string& name, uint32_t value) override {
    ++writes;
    if (!writeResult) return false;
    values[key + "|" + name] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16),
                                static_cast<uint8_t>(value >> 24)};
    return true;
  }
  void SetPortBytes(std::vector<uint8_t> bytes) {
    values[std::string(kSettingKey) + "|" + kSettingValueName] = std::move(bytes);
  }
  void SetPort(uint32_t port) {
    WriteUint32(kSettingKey, kSettingValueName, port);
    --writes;
  }

  std::map<std::string, std::vector<uint8_t>> values;
  bool readable = true;
  bool writeResult = true;
  int reads = 0;
  int writes = 0;
};

class FakeInstanceGuard final : public IInstanceGuard {
 public:
  explicit FakeInstanceGuard(Journal& journal) : journal_(journal) {}
  GuardResult Acquire(const std::string& name) override {
    journal_.Add("guard.acquire " + name);
    return result;
  }
  void Release() override { journal_.Add("guard.release"); }
  GuardResult result = GuardResult::Acquired;

 private:
  Journal& journal_;
};

class FakeNetworking final : public INetworking {
 public:
  explicit FakeNetworking(Journal& journal) : journal_(journal) {}
  NetStartResult Start() override {
    journal_.Add("net.start");
    return result;
  }
  void Stop() override { journal_.Add("net.stop"); }
  NetStartResult result = NetStartResult::Ok;

 private:
  Journal& journal_;
};

// Stands for the backend factory: the created control is a FakeVolumeControl whose Shutdown
// and destruction are journalled.
class FakeVolumeBackend final : public IVolumeBackend {
 public:
  explicit FakeVolumeBackend(Journal& journal) : journal_(journal) {}
  bool Create(IPollTimer& pollTimer, IErrorReporter& reporter) override {
    journal_.Add("backend.create");
    this->pollTimer = &pollTimer;
    if (!createResult) {
      reporter.ShowError("Could not locate audio device.", "Quavix Server Error");
      return false;
    }
    control = std::make_unique<JournalledControl>(journal_);
    return true;
  }
  IVolumeControl* Current() override { return control.get(); }
  void Destroy() override {
    journal_.Add("backend.destroy");
    control.reset();
  }

  class JournalledControl final : public IVolumeControl {
   public:
    explicit JournalledControl(Journal& journal) : journal_(journal) {}
    InitResult Initialize() override { return InitResult::Ok; }
    bool Shutdown() override {
      journal_.Add("backend.shutdown");
      return true;
    }
    bool GetState(VolumeState* state) override { return inner.GetState(state); }
    bool SetState(const VolumeState* state) override { return inner.SetState(state); }
    void SetChangeCallback(VolumeChangeCallback callback, int32_t userData) override {
      inner.SetChangeCallback(callback, userData);
    }
    FakeVolumeControl inner;

   private:
    Journal& journal_;
  };

  bool createResult = true;
  IPollTimer* pollTimer = nullptr;
  std::unique_ptr<JournalledControl> control;

 private:
  Journal& journal_;
};

class FakeServerControl final : public IServerControl {
 public:
  explicit FakeServerControl(Journal& journal) : journal_(journal) {}
  void Connect(IVolumeControl* stateSource) override {
    journal_.Add("server.connect");
    source = stateSource;
  }
  bool BindAndListen(uint16_t port) override {
    journal_.Add("server.bind " + std::to_string(port));
    const bool ok = !busyPorts.count(port);
    if (ok) listeningPort = port;
    return ok;
  }
  bool CanBind(uint16_t port) override {
    journal_.Add("server.probe " + std::to_string(port));
    return probeSaysFree || !busyPorts.count(port);
  }
  bool Start() override {
    journal_.Add("server.start");
    if (startResult) running = true;
    return startResult;
  }
  void Stop() override {
    journal_.Add("server.stop");
    running = false;
    listeningPort.reset();
  }
  void RegisterChangeCallback(IVolumeControl*) override { journal_.Add("callback.set"); }
  void UnregisterChangeCallback(IVolumeControl*) override { journal_.Add("callback.clear"); }
  bool BroadcastState() override {
    ++broadcasts;
    return broadcastDefers;
  }
  void SendKeepAlive() override { ++keepAlives; }

  std::map<uint16_t, bool> busyPorts;
  bool probeSaysFree = false;  // the port is taken between the probe and the bind
  bool startResult = true;
  bool running = false;
  std::optional<uint16_t> listeningPort;
  IVolumeControl* source = nullptr;
  bool broadcastDefers = false;
  int broadcasts = 0;
  int keepAlives = 0;

 private:
  Journal& journal_;
};

// Every fake wired together, as RunQuavixServer wires the real ones.
struct FakeShell {
  Journal journal;
  FakeInstanceGuard guard{journal};
  FakeMessageWindow window{journal};
  JournalErrorReporter messageBox{&journal};
  FakeTrayIcon tray{journal};
  FakePopupMenu menu;
  FakeSettingsDialog dialog;
  FakeSettingStore store;
  FakeNetworking networking{journal};
  FakeVolumeBackend backend{journal};
  FakeServerControl server{journal};
  ShellPlatform platform{guard, window, messageBox, tray, menu, dialog, store};
  ShellServices services{platform, networking, backend, server};
};

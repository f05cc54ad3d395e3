#pragma once
// The real quavix-server, started by a test or a benchmark in a private setting folder with a
// port of its own and no display (it then runs without a tray icon). Sound-server variables
// (XDG_RUNTIME_DIR, PULSE_*) are inherited, so it finds the fixture's private PulseAudio.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ServerSettings.h"
#include "TestClient.h"
#include "fakes/ChildProcess.h"
#include "net/Protocol.h"

// The sound server this process reaches: PULSE_SERVER, else the native socket in
// PULSE_RUNTIME_PATH or in XDG_RUNTIME_DIR/pulse.
inline std::string InheritedPulseServer() {
  if (const char* server = std::getenv("PULSE_SERVER")) return server;
  if (const char* path = std::getenv("PULSE_RUNTIME_PATH")) {
    return std::string("unix:") + path + "/native";
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::string("unix:") + (runtime != nullptr ? runtime : "/tmp") + "/pulse/native";
}

class ServerUnderTest {
 public:
  // `nofile` > 0 starts the server under `ulimit -n nofile`; `environment` ("NAME=value") is
  // added to what it inherits.
  ServerUnderTest(const std::string& serverPath, uint16_t port, long nofile = 0,
                  std::vector<std::string> environment = {})
      : port_(port) {
    char folder[] = "/tmp/quavix-config-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    config_ = folder;
    // Loads and benchmarks hold more clients than the everyday bound (max_clients 4096).
    StoreSettings(config_, std::to_string(port),
                  std::string("max_clients = 100000\n") + kNoPageLine);
    // A runtime folder of its own: the single-instance guard lives there, and tests run in
    // parallel. The sound server is then named outright (the one the caller names, else the
    // one this process would reach through its own runtime folder).
    const std::string runtime = config_ + "/run";
    std::error_code error;
    std::filesystem::create_directories(runtime, error);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, error);
    bool namesPulse = false;
    for (const std::string& entry : environment) namesPulse |= entry.rfind("PULSE_SERVER=", 0) == 0;
    if (!namesPulse) environment.push_back("PULSE_SERVER=" + InheritedPulseServer());
    environment.push_back("XDG_RUNTIME_DIR=" + runtime);
    environment.push_back("XDG_CONFIG_HOME=" + config_);
    environment.erase(std::remove(environment.begin(), environment.end(), ""), environment.end());
    environment = EnvironmentWith(environment, {"DISPLAY", "WAYLAND_DISPLAY"});
    std::vector<std::string> args = {serverPath};
    if (nofile > 0) {
      args = {"/bin/sh", "-c", "ulimit -n " + std::to_string(nofile) + " && exec \"$0\"",
              serverPath};
    }
    process_ = std::make_unique<ChildProcess>(args, &environment);
  }
  ~ServerUnderTest() {
    if (process_ != nullptr && process_->Running()) Stop();
    process_.reset();
    std::error_code error;
    if (!config_.empty()) std::filesystem::remove_all(config_, error);
  }
  ServerUnderTest(const ServerUnderTest&) = delete;
  ServerUnderTest& operator=(const ServerUnderTest&) = delete;

  uint16_t Port() const { return port_; }
  const std::string& ConfigHome() const { return config_; }
  void Signal(int signal) {
    if (process_ != nullptr) process_->Signal(signal);
  }
  pid_t Pid() const { return process_ != nullptr ? process_->Pid() : -1; }
  bool Running() { return process_ != nullptr && process_->Running(); }
  std::string Stderr() { return process_ != nullptr ? process_->Stderr() : ""; }

  // True once a client is greeted on the port (the server is up and serving).
  bool WaitServing(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline && Running()) {
      if (GreetsOnce()) return true;
      usleep(20000);  // the server is still starting; nothing to wait on but the port
    }
    return false;
  }

  // SIGTERM, then the exit code (-1 when it did not end in time).
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    if (process_ == nullptr) return -1;
    process_->Signal(SIGTERM);
    return process_->Wait(timeout);
  }

  // One connection that reads the four greeting bytes; true when they came.
  bool GreetsOnce() const { return GreetsOn(port_); }
  static bool GreetsOn(uint16_t port) {
    TestClient client(port);
    return client.Connected() &&
           client.Read(4) == std::vector<uint8_t>(kGreeting.begin(), kGreeting.end());
  }

 private:
  uint16_t port_;
  std::string config_;
  std::unique_ptr<ChildProcess> process_;
};

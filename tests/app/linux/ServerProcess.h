#pragma once
// Helpers for tests of the real quavix-server: the process with its own setting folder and
// runtime folder, and pactl on the fixture's sound server.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerSettings.h"
#include "support/TestClient.h"
#include "support/linux/TempTree.h"

using namespace std::chrono_literals;

// One run of the server. Its stdout and stderr go to files that Stdout() and Stderr() read.
class ServerProcess {
 public:
  // `configHome` holds the port setting, `runtimeDir` the instance guard.
  ServerProcess(const std::string& configHome, const std::string& runtimeDir);
  ~ServerProcess();  // kills a server still running (a failed test) and reaps it

  // `extraEnv` adds to the environment; an empty value removes the variable.
  bool Start(const std::map<std::string, std::string>& extraEnv = {});
  // Waits (bounded) for the exit; the exit status as waitpid gives it, or nothing on time-out.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit = 20s);
  void Signal(int signal);
  bool Running();
  pid_t Pid() const { return pid_; }
  std::string Stdout() const;
  std::string Stderr() const;
  // Threads of the running process (from /proc), 0 when gone.
  int ThreadCount() const;

 private:
  std::string configHome_;
  std::string runtimeDir_;
  std::string stdoutPath_;
  std::string stderrPath_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Connecting to a server that was just started and may not listen yet.
inline const TestClient::Options kWhileStarting{.retryFor = 20s};

// pactl against the fixture's sound server, on its default test sink.
bool SetSinkState(int volumePercent, bool muted);
// The sink's volume in percent (first channel) and mute switch.
std::optional<std::pair<int, bool>> SinkState();
// Waits (bounded) until the sink shows the state.
bool WaitForSinkState(int volumePercent, bool muted, std::chrono::milliseconds limit = 10s);

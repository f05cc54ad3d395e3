#pragma once
// Helpers for tests of the real quavix-server: the process with its own setting folder and
// runtime folder, a loopback test client, and pactl on the fixture's sound server.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fakes/PortSetting.h"

using namespace std::chrono_literals;

// A temporary folder, removed with everything in it.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

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

class TestClient {
 public:
  TestClient() = default;
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // Connects to 127.0.0.1:port, retrying until the deadline (the server may still start).
  bool Connect(uint16_t port, std::chrono::milliseconds limit = 20s);
  bool Send(uint8_t byte);
  // Up to `count` bytes, waiting at most `limit` in all.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds limit = 5s);
  // The next byte that is not a keep-alive, if one comes within `limit`.
  std::optional<uint8_t> NextState(std::chrono::milliseconds limit = 5s);
  // True when the server closed the stream within `limit`.
  bool SeesEnd(std::chrono::milliseconds limit = 10s);

 private:
  int fd_ = -1;
};

// pactl against the fixture's sound server, on its default test sink.
bool SetSinkState(int volumePercent, bool muted);
// The sink's volume in percent (first channel) and mute switch.
std::optional<std::pair<int, bool>> SinkState();
// Waits (bounded) until the sink shows the state.
bool WaitForSinkState(int volumePercent, bool muted, std::chrono::milliseconds limit = 10s);

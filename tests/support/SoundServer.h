#pragma once
// The private sound server of the tests: the shared one that with-sound-server.sh starts, a
// daemon of a test's own (PrivatePulse), and a libpulse client that sets the default sink as a
// user's mixer would (SinkDriver).
//
// QUAVIX_NEED_SOUND_SERVER() skips the test when no sound server was set up, or fails it when
// QUAVIX_REQUIRE_SOUND_SERVER=1 (the full suite), so a missing server is never a false pass.
// SoundServerLock serialises the tests that change the shared server (CTest runs test
// processes in parallel, and the default sink and its volume are global).

#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/Eventually.h"

#define QUAVIX_NEED_SOUND_SERVER()                                                  \
  do {                                                                              \
    if (std::getenv("QUAVIX_SOUND_SERVER") == nullptr) {                            \
      if (std::getenv("QUAVIX_REQUIRE_SOUND_SERVER") != nullptr) {                  \
        FAIL() << "no sound server: run under tests/fixtures/with-sound-server.sh"; \
      }                                                                             \
      GTEST_SKIP() << "no sound server (tests/fixtures/with-sound-server.sh)";      \
    }                                                                               \
  } while (0)

namespace soundserver {

// Holds an exclusive lock on the shared server for the test's lifetime.
class SoundServerLock {
 public:
  SoundServerLock();
  ~SoundServerLock();
  SoundServerLock(const SoundServerLock&) = delete;
  SoundServerLock& operator=(const SoundServerLock&) = delete;

 private:
  int fd_ = -1;
};

std::string TestSink();
std::string OtherSink();

// Runs a shell command; true when it exited 0.
bool Shell(const std::string& command);
// Runs a shell command and returns its standard output.
std::string Output(const std::string& command);

// One pactl call without a shell: `args` are split at spaces. `server` ("unix:PATH") picks
// the daemon, else the environment's. True when it exited 0 within 10 s; `out` gets stdout.
bool Pactl(const std::string& args, const std::string& server = "", std::string* out = nullptr);

// The raw channel volumes of a sink as pactl prints them ("65536 65536").
std::string RawChannelVolumes(const std::string& sink, const std::string& server = "");
// The percentages pactl shows for a sink's channels ("40 40").
std::string ChannelPercents(const std::string& sink, const std::string& server = "");
bool IsMuted(const std::string& sink, const std::string& server = "");

// A known starting point: the test sink is the default, at 100 % and unmuted, and so is the
// other one.
bool ResetServer();

// A PulseAudio daemon of the test's own, on a socket of its own (so stopping it disturbs no
// other test), with one null sink. Stop and Start again to restart it; Kill to crash it.
class PrivatePulse {
 public:
  PrivatePulse();
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  // What PULSE_SERVER must say for a client to reach this daemon.
  std::string Server() const { return "unix:" + dir_ + "/native"; }
  // Starts the daemon and waits (bounded) until it answers.
  bool Start();
  // A clean stop (SIGTERM), or a crash (SIGKILL) as after an update that kills it.
  void Stop() { End(SIGTERM); }
  void Kill() { End(SIGKILL); }
  // Freezes the daemon (SIGSTOP): it keeps its sockets open and answers nothing until Resume.
  void Pause();
  void Resume();
  // Runs "pactl ARGS" against this daemon, without a shell; see soundserver::Pactl.
  bool Pactl(const std::string& args, std::string* out = nullptr) const {
    return soundserver::Pactl(args, Server(), out);
  }

 private:
  void End(int signal);

  std::string dir_;
  pid_t pid_ = -1;
};

// Changes the default sink over a libpulse connection of its own. Not for a process that runs
// the sound-server backend too: two connections in one process share memory blocks in ways
// TSan cannot follow (use Pactl there). One thread uses a driver.
class SinkDriver {
 public:
  SinkDriver();
  ~SinkDriver();
  SinkDriver(const SinkDriver&) = delete;
  SinkDriver& operator=(const SinkDriver&) = delete;

  // Connects (bounded) to `server`, else the environment's.
  bool Connect(const std::string& server = "");
  // Sends volume and mute. `wait`: returns once the sound server has applied both (bounded);
  // otherwise at once, so a caller can time the change's way to clients from just before.
  bool Set(int percent, bool muted, bool wait);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace soundserver

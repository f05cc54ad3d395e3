#pragma once
// A real media player for the tests: mpv with its MPRIS plugin, playing short generated files
// to a null audio output, on a private session bus that the test starts. playerctl looks at it
// the way a user's desktop would.
//
// QUAVIX_NEED_PLAYER() skips the test when mpv, its plugin, playerctl or dbus-daemon is
// missing, or fails it when QUAVIX_REQUIRE_PLAYER=1 (the full suite).

#include <sys/types.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fakes/ChildProcess.h"

namespace media {
bool PlayerInstalled();
}  // namespace media

#define QUAVIX_NEED_PLAYER()                                                            \
  do {                                                                                  \
    if (!media::PlayerInstalled()) {                                                    \
      if (std::getenv("QUAVIX_REQUIRE_PLAYER") != nullptr) {                            \
        FAIL() << "mpv, mpv-mpris, playerctl or dbus-daemon missing (install-deps.sh)"; \
      }                                                                                 \
      GTEST_SKIP() << "no mpv with MPRIS, playerctl or dbus-daemon";                    \
    }                                                                                   \
  } while (0)

namespace media {

// A tagged track: a WAV file of silence whose INFO chunk names the title and artist.
struct Track {
  std::string title;
  std::string artist;
};

// A session bus of the test's own (dbus-daemon), and a folder for the tracks.
class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when the daemon did not start.
  const std::string& Address() const { return address_; }
  // Writes the tracks as files (a minute each) and returns their paths.
  std::vector<std::string> WriteTracks(const std::vector<Track>& tracks);

  // Runs "playerctl ARGS" on this bus (args split at spaces), bounded; its output lines
  // joined by newlines, or "" when it failed.
  std::string Playerctl(const std::string& args) const;

 private:
  std::string dir_;
  std::string address_;
  std::unique_ptr<ChildProcess> daemon_;
};

// mpv playing `files` in order on `bus`, started paused when asked. Its MPRIS name is
// "org.mpris.MediaPlayer2.mpv" for the first on a bus, with ".instance<pid>" for later ones.
class Mpv {
 public:
  Mpv(const PrivateSessionBus& bus, const std::vector<std::string>& files, bool paused = false);
  // A frozen player is killed all the same.
  // Waits (bounded) until the player is on the bus.
  bool AwaitOnBus(const PrivateSessionBus& bus);
  pid_t Pid() const { return process_->Pid(); }
  // The name playerctl knows it by ("mpv" or "mpv.instance<pid>").
  std::string PlayerName() const { return name_; }
  void Freeze();  // SIGSTOP: it keeps its bus connection and answers nothing
  void Thaw();

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string name_;
};

}  // namespace media

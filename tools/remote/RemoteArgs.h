#pragma once
// The command line of quavix-remote:
//   quavix-remote [--port N] [--wait MS] [--count N] [HOST[:PORT]] COMMAND
// with COMMAND one of get, set VOLUME, mute, unmute, toggle, watch; or
//   quavix-remote list

#include <cstdint>
#include <string>

#include "base/Port.h"

enum class RemoteCommand { Get, Set, Mute, Unmute, Toggle, Watch, List, Help };

// How `set` reads its VOLUME: "40" or "40%" is a level, "+5" and "-5" a step from the current.
enum class VolumeChange { To, Up, Down };

constexpr const char* kDefaultRemoteHost = "127.0.0.1";
// How long set, mute, unmute and toggle wait for the server to report the new state.
constexpr int kConfirmTimeoutMs = 2000;

struct RemoteArgs {
  std::string host = kDefaultRemoteHost;
  uint16_t port = kDefaultPort;
  RemoteCommand command = RemoteCommand::Help;
  VolumeChange change = VolumeChange::To;
  int32_t volume = 0;  // Set only: the level, or the size of the step (0 to 100)
  // How long a client waits after the greeting before it takes the default state.
  int waitMs = 300;
  // Watch only: stop after this many states were printed; 0 means until interrupted.
  long count = 0;
};

// Fills `args` from argv[1..argc-1]. `envHost` ($QUAVIX_HOST, or null) is the address used when
// the command line names none. False with a one-line reason in `error` on a bad argument.
bool ParseRemoteArgs(int argc, const char* const* argv, const char* envHost, RemoteArgs* args,
                     std::string* error);

// The usage text printed by --help.
std::string RemoteUsage();

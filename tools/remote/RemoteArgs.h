#pragma once
// The command line of quavix-remote:
//   quavix-remote [--port N] [--wait MS] [--count N] HOST get|set VOLUME|mute|unmute|toggle|watch

#include <cstdint>
#include <string>

enum class RemoteCommand { Get, Set, Mute, Unmute, Toggle, Watch, Help };

struct RemoteArgs {
  std::string host;
  uint16_t port = 17495;
  RemoteCommand command = RemoteCommand::Help;
  int32_t volume = 0;  // Set only
  // How long a client waits after the greeting before it takes the default state.
  int waitMs = 300;
  // Watch only: stop after this many states were printed; 0 means until interrupted.
  long count = 0;
};

// Fills `args` from argv[1..argc-1]. False with a one-line reason in `error` on a bad argument.
bool ParseRemoteArgs(int argc, const char* const* argv, RemoteArgs* args, std::string* error);

// The usage text printed by --help and after a bad argument.
const char* RemoteUsage();

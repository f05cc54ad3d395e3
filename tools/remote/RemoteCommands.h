#pragma once
// What quavix-remote does for each command, with its output and exit code.

#include <ostream>

#include "remote/RemoteArgs.h"

// Exit codes, also listed in the usage text.
enum RemoteExit : int {
  kExitOk = 0,
  kExitNotConfirmed = 1,  // the server did not report the requested state in time
  kExitNoneFound = 1,     // list: no server found
  kExitBadArgument = 2,
  kExitNoServer = 3,
  kExitNotServer = 4,   // a wrong greeting, or a byte that is no state
  kExitConnection = 5,  // the connection closed, failed or timed out
  kExitInterrupted = 130,
};

// Runs one parsed command. States go to `out` (one line each; watch prefixes a UTC timestamp),
// errors to the log (base/Log.h). `stopFd` (or -1): when it becomes readable, watch ends with
// kExitOk and other commands with kExitInterrupted. Every command but watch ends within 5 s,
// whatever the peer sends (watch's start is bounded the same way).
int RunRemote(const RemoteArgs& args, std::ostream& out, int stopFd);

// Parses argv and runs it: the whole program. Names the log's lines "quavix-remote".
int RemoteMain(int argc, const char* const* argv, std::ostream& out, int stopFd);

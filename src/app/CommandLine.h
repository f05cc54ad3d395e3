#pragma once
// quavix-server's command line, handled before anything of the server starts (no window, no
// display, no sockets):
//   quavix-server                 start the server
//   quavix-server --verbose       start it, logging notes as well as errors (also combines
//                                 with the others)
//   quavix-server --help          usage text, exit 0
//   quavix-server --version       "quavix-server 1.0", exit 0
//   quavix-server --set-port N    ask the running server of this user to move to port N; it
//                                 moves and stores N, or stays and says why. With none
//                                 running, N is stored for the next start.
//   quavix-server --pair          ask the running server for a pairing code: prints its link
//                                 and QR code for a phone's camera; 1 when none runs.
// Anything else: one line of usage in the log, exit 2. Errors go to the log (base/Log.h), whose
// lines this names after the program.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/ISettingStore.h"

enum CommandLineExit : int {
  kCommandLineOk = 0,
  // The port was not stored; or the running server could not be asked, or refused; or no
  // server runs to pair with.
  kCommandLineFailed = 1,
  kCommandLineUsage = 2,
};

enum class AskResult {
  Answered,     // the running server replied
  NoneRunning,  // no server of this user runs
  Failed,       // one runs, but did not take the request or did not reply in time
  CannotTell,   // whether one runs cannot be found out (no usable instance guard)
};

// How long a request waits for the running server: a move stops and restarts the server, and a
// server still starting up (a slow sound server) answers once it runs.
constexpr int kRequestWaitMs = 10000;

// The running server of this user, seen from a second process of the same program.
class IRunningServer {
 public:
  virtual ~IRunningServer() = default;
  // Main thread. Sends `request` (a line of Requests.h) to the running server, if any, and waits
  // up to kRequestWaitMs for its reply line, left in `reply`. On Failed and CannotTell,
  // `reason` says why in the platform's words.
  virtual AskResult Ask(const std::string& request, std::string* reply, std::string* reason) = 0;
};

struct CommandLineServices {
  std::string programName;  // as the user types it: "quavix-server", "QuavixServer"
  ISettingStore& store;
  // Where `store` keeps the port, as the user should read it (a file path, a registry key).
  std::string portLocation;
  IRunningServer& runningServer;
};

// Main thread, before any other thread exists. `args` are the arguments after the program name.
// Empty when the server should start; otherwise the process's exit code, after the answer went
// to `out` and any error to the log.
std::optional<int> RunCommandLine(std::vector<std::string> args, CommandLineServices& services,
                                  std::ostream& out);

#pragma once
// quavix-server's command line, handled before anything of the server starts (no window, no
// display, no sockets):
//   quavix-server                 start the server
//   quavix-server --verbose       start it, logging notes as well as errors (also combines
//                                 with the others)
//   quavix-server --help          usage text, exit 0
//   quavix-server --version       "quavix-server 1.0", exit 0
//   quavix-server --set-port N    store N as the port (the settings dialog's store), tell a
//                                 running server of this user to move there and wait (about
//                                 2 s) until it answers there; when it does not, the port it
//                                 stays on is stored again
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
  // The port was not stored; or the running server could not be told, did not move, or could
  // not be found out about.
  kCommandLineFailed = 1,
  kCommandLineUsage = 2,
};

enum class TellResult {
  Told,         // the request was delivered; the server moves in its own time
  NoneRunning,  // no server of this user runs
  Failed,       // one runs, but the request could not be delivered
  CannotTell,   // whether one runs cannot be found out (no usable instance guard)
};

// How long --set-port waits for the running server to answer on its new port.
constexpr int kMoveWaitMs = 2000;

// The running server of this user, seen from a second process of the same program.
class IRunningServer {
 public:
  virtual ~IRunningServer() = default;
  // Main thread. Asks the running server, if any, to read the stored port again and move to it.
  // On Failed and CannotTell, `reason` says why in the platform's words.
  virtual TellResult TellPortChanged(std::string* reason) = 0;
  // Main thread. Waits up to `limitMs` for the server to greet on `port` on this machine. False
  // with `reason` saying why it did not ("port N is in use by another program", no answer).
  virtual bool AwaitGreeting(uint16_t port, int limitMs, std::string* reason) = 0;
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

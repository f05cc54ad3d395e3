#pragma once
// Tells the running quavix-server of this user that the stored port changed: SIGUSR1 to the
// process that holds the single-instance guard, whose lock file holds its process id.

#include <optional>
#include <string>

#include "app/CommandLine.h"

class SignalRunningServer final : public IRunningServer {
 public:
  // `guardFile` empty: the guard's file in the user's runtime folder (see GuardFolder).
  explicit SignalRunningServer(std::string guardFile = "") : guardFile_(std::move(guardFile)) {}
  // NoneRunning when nobody holds the guard (the lock is taken for a moment to learn that, and
  // given back at once). Failed when the holder's process id is missing, malformed or cannot
  // be signalled.
  // CannotTell when no safe guard folder exists (the reason names it).
  TellResult TellPortChanged(std::string* reason) override;
  bool AwaitGreeting(uint16_t port, int limitMs, std::string* reason) override;

 private:
  std::string guardFile_;
};

// The command line on Linux: the user's setting file, this sender, stdout and the log. Empty
// when the server should start, otherwise the exit code.
std::optional<int> RunLinuxCommandLine(int argc, char** argv);

#pragma once
// Asks the running quavix-server of this user through its request socket (RequestSocket.h),
// beside the instance guard.

#include <optional>
#include <string>

#include "app/CommandLine.h"

class SocketRunningServer final : public IRunningServer {
 public:
  // `folder` empty: the guard's folder (GuardFolder). `waitMs`: how long to wait for a reply,
  // and for a server that holds the guard but does not take requests yet (still starting up).
  explicit SocketRunningServer(std::string folder = "", int waitMs = kRequestWaitMs)
      : folder_(std::move(folder)), waitMs_(waitMs) {}
  // NoneRunning when nobody holds the guard. CannotTell when no safe guard folder exists.
  AskResult Ask(const std::string& request, std::string* reply, std::string* reason) override;

 private:
  std::string folder_;
  int waitMs_;
};

// The command line on Linux: the user's setting file, this asker, stdout and the log. Empty
// when the server should start, otherwise the exit code.
std::optional<int> RunLinuxCommandLine(int argc, char** argv);

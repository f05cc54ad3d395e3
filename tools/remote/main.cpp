// quavix-remote: watch and change a volume server's state from the command line.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "remote/RemoteCommands.h"

namespace {

int stopWriteFd = -1;

// Async-signal-safe: one byte into the self-pipe wakes whatever wait is under way.
void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(stopWriteFd, &byte, 1);
  errno = saved;
}

}  // namespace

int main(int argc, char** argv) {
  int stopPipe[2] = {-1, -1};
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    stopWriteFd = stopPipe[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  const int code = RemoteMain(argc, argv, std::cout, stopPipe[0]);
  std::cout.flush();
  return code;
}

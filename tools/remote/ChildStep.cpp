#include "remote/ChildStep.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Closes both ends of a pipe on every path.
struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
};

}  // namespace

ChildStepResult RunChildStep(const std::function<int(int fd)>& step, int limitMs, int stopFd,
                             std::string* output) {
  Pipe result;
  if (pipe2(result.fds, O_CLOEXEC) != 0) return ChildStepResult::Failed;
  const pid_t child = fork();
  if (child < 0) return ChildStepResult::Failed;
  if (child == 0) {
    close(result.fds[0]);
    // Ctrl+C reaches the whole process group: the parent decides, and kills this.
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_DFL);
    _exit(step(result.fds[1]));
  }
  close(result.fds[1]);
  result.fds[1] = -1;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  ChildStepResult outcome = ChildStepResult::Done;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready[2] = {{result.fds[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int polled =
        poll(ready, stopFd >= 0 ? 2 : 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (polled < 0 && errno == EINTR) continue;  // the stop descriptor tells of the signal
    if (polled == 0) {
      outcome = ChildStepResult::TimedOut;
      break;
    }
    if (polled > 0 && stopFd >= 0 && ready[1].revents != 0) {
      outcome = ChildStepResult::Stopped;
      break;
    }
    char buffer[4096];
    const ssize_t got = polled < 0 ? -1 : read(result.fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the child is done (or the pipe failed)
    output->append(buffer, static_cast<size_t>(got));
  }
  if (outcome != ChildStepResult::Done) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (outcome == ChildStepResult::Done && !(WIFEXITED(status))) return ChildStepResult::Failed;
  return outcome;
}

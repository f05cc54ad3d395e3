#include "app/linux/RunningServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

#include "app/Requests.h"
#include "app/ShellNames.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/IniSettingStore.h"
#include "app/linux/RequestSocket.h"
#include "app/linux/UniqueFd.h"

namespace {

using Clock = std::chrono::steady_clock;

// Whether another process holds the guard at `path`. A shared lock is enough to learn that, and
// two askers at once do not take each other for a server.
bool GuardHeld(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
  if (!fd) return false;
  for (;;) {
    if (flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;  // released with the descriptor
    if (errno != EINTR) return errno == EWOULDBLOCK;
  }
}

int LeftMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Connected to the socket at `path`, or closed with errno set.
UniqueFd ConnectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return UniqueFd();
  }
  path.copy(address.sun_path, path.size());
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd && connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fd.reset();
  }
  return fd;
}

// Sends `line` and reads one line back, both before `deadline`. False with `reason` otherwise.
bool Exchange(int fd, const std::string& line, Clock::time_point deadline, std::string* reply,
              std::string* reason) {
  const std::string request = line + "\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    *reason = std::string("sending the request: ") + std::strerror(errno);
    return false;
  }
  std::string received;
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, LeftMs(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      *reason = "no reply in time";
      return false;
    }
    char buffer[512];
    const ssize_t got = polled < 0 ? -1 : recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *reason = got == 0 ? "it closed the connection without a reply"
                         : std::string("reading the reply: ") + std::strerror(errno);
      return false;
    }
    received.append(buffer, static_cast<size_t>(got));
    const size_t end = received.find('\n');
    if (end != std::string::npos) {
      *reply = received.substr(0, end);
      return true;
    }
    if (received.size() > kLongestRequestLine) {
      *reason = "its reply is too long";
      return false;
    }
  }
}

}  // namespace

AskResult SocketRunningServer::Ask(const std::string& request, std::string* reply,
                                   std::string* reason) {
  const std::string guard = GuardFilePath(folder_, kInstanceGuardName, reason);
  // A server started here would have run without a guard: nothing tells whether one runs.
  if (guard.empty()) return AskResult::CannotTell;
  const std::string socket = RequestSocketPath(folder_);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs_);
  for (;;) {
    const UniqueFd fd = ConnectTo(socket);
    if (fd)
      return Exchange(fd.get(), request, deadline, reply, reason) ? AskResult::Answered
                                                                  : AskResult::Failed;
    if (errno != ENOENT && errno != ECONNREFUSED) {
      *reason = socket + ": " + std::strerror(errno);
      return AskResult::Failed;
    }
    if (!GuardHeld(guard)) return AskResult::NoneRunning;
    // It holds the guard but takes no requests yet: still starting up.
    if (LeftMs(deadline) == 0) {
      *reason = "it takes no requests; is it still starting up?";
      return AskResult::Failed;
    }
    poll(nullptr, 0, std::min(50, LeftMs(deadline)));
  }
}

std::optional<int> RunLinuxCommandLine(int argc, char** argv) {
  if (argc <= 1) return std::nullopt;
  IniSettingStore store;
  SocketRunningServer runningServer;
  CommandLineServices services{"quavix-server", store, store.Location(), runningServer};
  const std::optional<int> code =
      RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), services, std::cout);
  std::cout.flush();
  return code;
}

#include "app/linux/RunningServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/ShellNames.h"
#include "app/linux/IniSettingStore.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/UniqueFd.h"
#include "net/Protocol.h"

namespace {

// True while another open file description holds the lock. A shared lock is enough to learn
// that, and two senders at once do not take each other for a server.
bool HeldByAnother(int fd) {
  for (;;) {
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
      flock(fd, LOCK_UN);
      return false;
    }
    if (errno != EINTR) return errno == EWOULDBLOCK;
  }
}

// The holder's process id: decimal digits and a newline. Anything else, and above all 0 or a
// negative number (which kill would take for a whole process group), is refused.
pid_t ReadHolderPid(int fd) {
  char text[24];
  ssize_t got;
  do {
    got = pread(fd, text, sizeof text, 0);
  } while (got < 0 && errno == EINTR);
  if (got <= 1 || text[got - 1] != '\n') return 0;
  long pid = 0;
  const auto [end, ec] = std::from_chars(text, text + got - 1, pid);
  if (ec != std::errc() || end != text + got - 1 || text[0] < '0' || text[0] > '9') return 0;
  return pid > 0 && pid <= 0x3FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

TellResult SignalRunningServer::TellPortChanged(std::string* reason) {
  std::string path = guardFile_;
  if (path.empty()) {
    path = GuardFilePath("", kInstanceGuardName, reason);
    // A server started here would have run without a guard: nothing tells whether one runs.
    if (path.empty()) return TellResult::CannotTell;
  }
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  if (!fd) {
    if (errno == ENOENT) return TellResult::NoneRunning;
    *reason = path + ": " + std::strerror(errno);
    return TellResult::Failed;
  }
  if (!HeldByAnother(fd.get())) return TellResult::NoneRunning;
  const pid_t pid = ReadHolderPid(fd.get());
  if (pid == 0) {
    *reason = path + " holds no process id";
    return TellResult::Failed;
  }
  // Pin the process first, then check that the guard is still held: a holder that ended in
  // between may have left its id to an unrelated process, which must not get the signal.
  UniqueFd process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  const bool pinned = static_cast<bool>(process);
  if (!pinned && errno != ENOSYS) {
    *reason = "process " + std::to_string(pid) + ": " + std::strerror(errno);
    return TellResult::Failed;
  }
  if (!HeldByAnother(fd.get())) return TellResult::NoneRunning;
  const long sent = pinned ? syscall(SYS_pidfd_send_signal, process.get(), SIGUSR1, nullptr, 0)
                           : kill(pid, SIGUSR1);  // kernels before 5.3
  if (sent != 0) {
    *reason = "signal to process " + std::to_string(pid) + ": " + std::strerror(errno);
    return TellResult::Failed;
  }
  return TellResult::Told;
}

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// One connection to loopback `port`: true when its first bytes are our greeting before
// `deadline`.
bool GreetsOnce(uint16_t port, Clock::time_point deadline) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    return false;
  }
  uint8_t got[kGreeting.size()];
  size_t have = 0;
  while (have < sizeof got) {
    pollfd ready{fd.get(), POLLIN, 0};
    if (poll(&ready, 1, MsUntil(deadline)) <= 0) return false;
    const ssize_t n = recv(fd.get(), got + have, sizeof got - have, 0);
    if (n <= 0) return false;  // refused (nobody listens yet), closed or failed
    have += static_cast<size_t>(n);
  }
  return std::memcmp(got, kGreeting.data(), sizeof got) == 0;
}

bool PortTaken(uint16_t port) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  const int one = 1;  // as the server binds: lingering closed connections do not count
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
         errno == EADDRINUSE;
}

}  // namespace

bool SignalRunningServer::AwaitGreeting(uint16_t port, int limitMs, std::string* reason) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    // A try ends at the deadline or at once when nobody listens; the server moves in its own
    // time, so it is tried again after a short pause.
    if (GreetsOnce(port, std::min(deadline, Clock::now() + std::chrono::milliseconds(500)))) {
      return true;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(std::chrono::milliseconds(50), deadline - Clock::now()));
  }
  const std::string number = std::to_string(port);
  *reason = PortTaken(port) ? "port " + number + " is in use by another program"
                            : "it did not answer on port " + number + " within " +
                                  std::to_string(limitMs / 1000) + " s";
  return false;
}

std::optional<int> RunLinuxCommandLine(int argc, char** argv) {
  if (argc <= 1) return std::nullopt;
  IniSettingStore store;
  SignalRunningServer runningServer;
  CommandLineServices services{"quavix-server", store, store.Location(), runningServer};
  const std::optional<int> code =
      RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), services, std::cout);
  std::cout.flush();
  return code;
}

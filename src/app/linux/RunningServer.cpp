#include "app/linux/RunningServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "app/ShellNames.h"
#include "app/linux/FileSettingStore.h"
#include "app/linux/FlockInstanceGuard.h"
#include "app/linux/UniqueFd.h"
#include "base/Port.h"

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
  const std::optional<long> pid = ParseDecimal(std::string_view(text, got - 1), 1, 0x3FFFFFFF);
  return pid ? static_cast<pid_t>(*pid) : 0;
}

}  // namespace

TellResult SignalRunningServer::TellPortChanged(std::string* reason) {
  const std::string path = guardFile_.empty() ? GuardFilePath(kInstanceGuardName) : guardFile_;
  if (path.empty()) return TellResult::NoneRunning;  // a server there would have no guard
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

std::optional<int> RunLinuxCommandLine(int argc, char** argv) {
  if (argc <= 1) return std::nullopt;
  FileSettingStore store;
  SignalRunningServer runningServer;
  std::string location = store.ValuePath(kSettingKey, kSettingValueName);
  if (location.empty())
    location = "the configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
  CommandLineServices services{"quavix-server", store, location, runningServer};
  const std::optional<int> code =
      RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), services, std::cout);
  std::cout.flush();
  return code;
}

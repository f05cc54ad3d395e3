#include "app/linux/FlockInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/Log.h"

namespace {

// The holder's process id, for `quavix-server --set-port` to signal. Truncated first, so an
// earlier holder's id never lingers. A failure costs only that signal, so start-up goes on.
void RecordHolder(int fd, const std::string& path) {
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    LogSystemError("cannot record the process id in " + path, errno);
  }
}

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  // Without a runtime folder, a shared /tmp: refuse a folder another user could have planted.
  const std::string folder = "/tmp/quavix-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
      (info.st_mode & 0077) != 0) {
    return "";
  }
  return folder;
}

}  // namespace

std::string GuardFilePath(const std::string& name, const std::string& folder) {
  if (name.empty() || name.find('/') != std::string::npos) return "";
  const std::string where = folder.empty() ? RuntimeFolder() : folder;
  return where.empty() ? "" : where + "/" + name;
}

GuardResult FlockInstanceGuard::Acquire(const std::string& name) {
  const std::string path = GuardFilePath(name, folder_);
  if (path.empty()) return GuardResult::Failed;
  fd_.reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (!fd_) {
    LogSystemError(path, errno);
    return GuardResult::Failed;
  }
  while (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool held = errno == EWOULDBLOCK;
    fd_.reset();
    return held ? GuardResult::AlreadyRunning : GuardResult::Failed;
  }
  RecordHolder(fd_.get(), path);
  return GuardResult::Acquired;
}

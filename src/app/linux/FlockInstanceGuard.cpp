#include "app/linux/FlockInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Log.h"

namespace {

// The holder's process id, for a person looking for the running server. Truncated first, so an
// earlier holder's id never lingers. A failure costs only that, so start-up goes on.
void RecordHolder(int fd, const std::string& path) {
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    LogSystemError("cannot record the process id in " + path, errno);
  }
}

}  // namespace

namespace {

// Why `folder` must not hold the guard; empty when it is a real folder of ours that nobody
// else can reach.
std::string UnsafeBecause(const std::string& folder) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISLNK(info.st_mode)) return "it is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  if (info.st_uid != getuid()) return "it belongs to user " + std::to_string(info.st_uid);
  if ((info.st_mode & 0077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("its mode is ") + mode + ", not 0700";
  }
  return "";
}

}  // namespace

std::string GuardFolder(std::string* problem) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  // Without a runtime folder, a shared temporary folder: refuse a folder another user could have
  // planted.
  const char* temporary = std::getenv("TMPDIR");
  const std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
  const std::string folder = base + "/quavix-" + std::to_string(getuid());
  std::string why;
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = std::strerror(errno);
  } else {
    why = UnsafeBecause(folder);
  }
  if (why.empty()) return folder;
  if (problem != nullptr) {
    *problem = folder + " (XDG_RUNTIME_DIR is not set) cannot hold the instance guard: " + why;
  }
  return "";
}

std::string GuardFilePath(const std::string& folder, const std::string& name,
                          std::string* problem) {
  const std::string base = folder.empty() ? GuardFolder(problem) : folder;
  return base.empty() ? "" : base + "/" + name;
}

GuardResult FlockInstanceGuard::Acquire(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return GuardResult::Failed;
  std::string problem;
  const std::string path = GuardFilePath(folder_, name, &problem);
  if (path.empty()) {
    LogError(problem + "; running without one, so a second start is not refused");
    return GuardResult::Failed;
  }
  fd_.reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (!fd_) {
    LogSystemError(path + ": cannot hold the instance guard; running without one", errno);
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

#include "app/linux/FlockInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

std::string GuardFolder() {
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

GuardResult FlockInstanceGuard::Acquire(const std::string& name) {
  const std::string folder = folder_.empty() ? GuardFolder() : folder_;
  if (folder.empty() || name.empty() || name.find('/') != std::string::npos) {
    return GuardResult::Failed;
  }
  const std::string path = folder + "/" + name;
  fd_.reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (!fd_) return GuardResult::Failed;
  while (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool held = errno == EWOULDBLOCK;
    fd_.reset();
    return held ? GuardResult::AlreadyRunning : GuardResult::Failed;
  }
  // The holder's process id, for whoever must signal the running server (a changed port).
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd_.get(), 0) != 0 || write(fd_.get(), pid.data(), pid.size()) < 0) {
    std::fprintf(stderr, "quavix-server: cannot note our process id in %s\n", path.c_str());
  }
  return GuardResult::Acquired;
}

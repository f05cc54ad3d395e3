#pragma once
// The single-instance guard as an exclusive flock on a file named after the guard in the
// user's runtime folder ($XDG_RUNTIME_DIR, 0700). The kernel drops the lock when the process
// ends in any way, so a killed instance never blocks the next one. The holder writes its
// process id into the file, so `--set-port` can tell it to move (SIGUSR1).

#include <string>

#include "app/IInstanceGuard.h"
#include "app/linux/UniqueFd.h"

class FlockInstanceGuard final : public IInstanceGuard {
 public:
  // `folder` empty: the user's runtime folder (see GuardFilePath).
  explicit FlockInstanceGuard(std::string folder = "") : folder_(std::move(folder)) {}
  GuardResult Acquire(const std::string& name) override;
  void Release() override { fd_.reset(); }

 private:
  std::string folder_;
  UniqueFd fd_;
};

// The file of the guard `name` in `folder`, or when that is empty in the user's runtime folder:
// $XDG_RUNTIME_DIR when set to an absolute path, otherwise /tmp/quavix-<uid>, created 0700 and
// used only when it is a real folder of ours that nobody else can write to. Empty when there is
// no safe folder or `name` is no plain file name. The guard and `--set-port` both use it.
std::string GuardFilePath(const std::string& name, const std::string& folder = "");

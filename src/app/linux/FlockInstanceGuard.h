#pragma once
// The single-instance guard as an exclusive flock on a file named after the guard in the
// user's runtime folder ($XDG_RUNTIME_DIR, 0700). The kernel drops the lock when the process
// ends in any way, so a killed instance never blocks the next one. The holder writes its
// process id into the file, for a person looking for it (SIGUSR1 makes it re-read its port).

#include <string>

#include "app/IInstanceGuard.h"
#include "app/linux/UniqueFd.h"

class FlockInstanceGuard final : public IInstanceGuard {
 public:
  // Failed when no safe folder exists or the file cannot be used; that is said once on stderr
  // (the folder and why), since a second start is then not refused.
  // `folder` empty: the user's runtime folder (see GuardFolder).
  explicit FlockInstanceGuard(std::string folder = "") : folder_(std::move(folder)) {}
  GuardResult Acquire(const std::string& name) override;
  void Release() override { fd_.reset(); }

 private:
  std::string folder_;
  UniqueFd fd_;
};

// $XDG_RUNTIME_DIR when set to an absolute path; otherwise quavix-<uid> in $TMPDIR (when
// absolute) or /tmp, created 0700 and
// used only when it is a real folder of ours that nobody else can reach. Empty when there is no
// safe folder; `problem` (when given) then names the folder and says what is wrong with it.
std::string GuardFolder(std::string* problem = nullptr);
// The guard file `name` in `folder`, or in GuardFolder() when `folder` is empty: the one path
// that the guard holds and the --set-port sender reads. Empty when there is no safe folder.
std::string GuardFilePath(const std::string& folder, const std::string& name,
                          std::string* problem = nullptr);

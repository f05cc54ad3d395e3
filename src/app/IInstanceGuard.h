#pragma once
// The per-user single-instance guard. The adapter's destructor releases a held guard.

#include <string>

enum class GuardResult {
  Acquired,        // this process holds the guard now
  AlreadyRunning,  // another instance of this user holds it
  Failed           // the guard could not be created for another reason (start-up goes on)
};

class IInstanceGuard {
 public:
  virtual ~IInstanceGuard() = default;
  // Main thread, once.
  virtual GuardResult Acquire(const std::string& name) = 0;
  // Main thread. Lets go of the guard (and of any handle to it); nothing happens when none.
  virtual void Release() = 0;
};

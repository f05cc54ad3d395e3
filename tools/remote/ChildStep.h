#pragma once
// A step that may wait inside a library without a bound we can set (the system's resolver,
// Avahi's client talking to a daemon that hangs), run in a child process so that it ends when
// the command says: the child hands its result back through a pipe, and at the deadline, or
// once the stop descriptor becomes readable, it is killed. The child is always reaped.

#include <functional>
#include <string>

enum class ChildStepResult {
  Done,      // the child ended on its own; `output` holds all it wrote
  TimedOut,  // killed at the deadline
  Stopped,   // killed because the stop descriptor became readable
  Failed,    // it could not be started, or it died
};

// Runs `step(fd)` in a child, which writes its result to `fd` and returns its exit status.
// Waits at most `limitMs`; `stopFd` (or -1) cuts the wait short. Single-threaded callers only:
// the child runs `step` right after fork.
ChildStepResult RunChildStep(const std::function<int(int fd)>& step, int limitMs, int stopFd,
                             std::string* output);

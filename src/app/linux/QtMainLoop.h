#pragma once
// The main loop as Qt's, on the main thread. Tasks and timer starts from other threads, and
// SIGTERM/SIGINT/SIGHUP (quit) and SIGUSR1 (port changed), reach it through one eventfd that
// the Qt loop watches; the queue behind it (QueuedMainLoop) has its own mutex, so no ordering
// rests on Qt's internal locks. Each task then runs as a queued invocation, also inside a menu's or
// a dialog's modal loop.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>

#include "app/QueuedMainLoop.h"
#include "app/linux/UniqueFd.h"

// One at a time per process: it owns the process's handlers of the four signals.
class QtMainLoop final : public QObject, public QueuedMainLoop {
 public:
  // Catches the signals from here on, so one that comes during start-up is kept until Open;
  // the destructor restores what was there.
  QtMainLoop();
  ~QtMainLoop() override;

  // From now until QuitInOrderFromNowOn (or Run), SIGTERM, SIGINT or SIGHUP ends the process at
  // once with status 0: start-up may wait inside a library (a sound server that does not
  // answer) where nothing of ours runs. For the program only; tests keep the default (kept
  // until the loop runs).
  void EndOnStopSignalUntilRun();
  void QuitInOrderFromNowOn() override;
  // Quit also starts ignoring the four signals for the rest of the process, so a storm during
  // shut-down cannot end it with a signal's status.
  bool Open(IShellEvents& events) override;
  void StopTimer(ShellTimer timer) override;
  void Quit(int exitCode) override;
  int Run() override;

 private:
  bool Wakeable() const override { return static_cast<bool>(wakeFd_); }
  void Wake() override;  // through the eventfd
  bool OnMainThread() const override;
  void StartHere(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) override;
  // Turns what was queued, and the signals that came, into queued invocations.
  void Drain();

  IShellEvents* events_ = nullptr;
  UniqueFd wakeFd_;
  std::unique_ptr<QSocketNotifier> wakeNotifier_;

  std::map<ShellTimer, std::unique_ptr<QTimer>> timers_;  // main thread only
  std::optional<int> quitCode_;                           // main thread only
  bool running_ = false;                                  // main thread only
};

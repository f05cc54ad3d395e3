#pragma once
// The main thread's loop (Qt's on Linux, the hidden window's message loop on Windows) and what
// the platform reports to the shell through it.

#include <cstdint>
#include <functional>

// One repeating timer per purpose.
enum class ShellTimer { KeepAlive, BroadcastRetry, MixerPoll };

// What the user and the system ask of the running program. Always called on the main thread,
// from the loop or from a modal loop (menu, dialog).
class IShellEvents {
 public:
  virtual ~IShellEvents() = default;
  virtual void OnTrayIconPressed() = 0;           // a left or right press on the icon
  virtual void OnSettingsRequested() = 0;         // open the settings dialog
  virtual void OnQuitRequested() = 0;             // the menu's Quit, a close or a stop signal
  virtual void OnPortChangeAnnounced() = 0;       // the stored port was changed elsewhere
  virtual void OnNotificationAreaAppeared() = 0;  // the tray host started (again)
};

class IMainLoop {
 public:
  virtual ~IMainLoop() = default;

  // Main thread, once, before any other call. Prepares the loop (on Windows the hidden
  // window) and reports to `events`, which must outlive the loop. False when it could not.
  virtual bool Open(IShellEvents& events) = 0;

  // Any thread, holding any of our locks. Runs `task` later on the main thread, in the loop
  // or a modal loop. Tasks asked for after Quit are dropped. Never blocks on the main thread.
  virtual void RunOnMainThread(std::function<void()> task) = 0;

  // Any thread, holding any of our locks (the relay arms its retry under the server mutex).
  // From now on `tick` runs every `periodMs` on the main thread; from another thread the start
  // itself takes effect there a moment later. Starting a timer that runs replaces its tick and
  // restarts its period. Ignored after Quit.
  virtual void StartTimer(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) = 0;
  // Main thread. No tick of `timer` runs after this; a timer that does not run is ignored.
  virtual void StopTimer(ShellTimer timer) = 0;

  // Main thread, just before the server takes its first client. Until now a platform may end
  // start-up at once on a stop signal; from here one quits in order once Run starts, so what a
  // client has already sent still takes effect.
  virtual void QuitInOrderFromNowOn() = 0;
  // Main thread. Stops every timer and ends Run with `exitCode` once the current task or tick
  // has returned; asked before Run, Run returns at once.
  virtual void Quit(int exitCode) = 0;
  // Main thread. Runs tasks, ticks and the platform's events until Quit; returns its code.
  virtual int Run() = 0;
};

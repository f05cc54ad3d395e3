#pragma once
// The hidden main-thread window: it receives our messages and timer ticks, and its thread runs
// the message loop. The platform adapter (linux/ or win32/) implements it; the portable tray
// window is its procedure.

#include <cstdint>

// What the window delivers messages to. Always called on the main thread.
class IWindowProcedure {
 public:
  virtual ~IWindowProcedure() = default;
  virtual intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Procedure of a timer that bypasses the window procedure (the mixer poll).
using TimerProcedure = void (*)();

class IMessageWindow {
 public:
  virtual ~IMessageWindow() = default;

  // Main thread, once. Creates the window, invisible, delivering to `procedure` (which must
  // outlive the window). False when it could not be created; nothing else may be called then.
  virtual bool Create(IWindowProcedure* procedure) = 0;

  // Any thread. Queues a message for the procedure; it runs later on the main thread, in the
  // message loop or a modal loop (menu, dialog). No result: a lost message is not reported.
  virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

  // Main thread. Runs the procedure for the message now and returns its result.
  virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

  // Main thread. The platform's default handling. For kWmClose it destroys the window (see
  // Destroy); every other message is ignored and gives 0.
  virtual intptr_t DefaultProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

  // Main thread. Stops every timer of the window, delivers kWmDestroy to the procedure before
  // returning, and after that delivers nothing more. A second call does nothing.
  virtual void Destroy() = 0;

  // Any thread. Arms periodic timer `id`: from now on kWmTimer with wParam = id reaches the
  // procedure every `periodMs` on the main thread. Arming an armed timer restarts its period.
  // Never blocks on the main thread. Ignored once the window was destroyed.
  virtual void SetTimer(uint32_t id, uint32_t periodMs) = 0;

  // Main thread. Like SetTimer, but each tick calls `procedure` (not the window procedure).
  virtual void SetTimerProcedure(uint32_t id, uint32_t periodMs, TimerProcedure procedure) = 0;

  // Main thread. Stops timer `id`; no tick of it runs after the call. Unknown ids are ignored.
  virtual void KillTimer(uint32_t id) = 0;

  // Main thread. Asks the message loop to end with `exitCode` (the platform's WM_QUIT): the
  // loop returns once the current message has been handled, also when asked before it ran.
  virtual void PostQuit(int exitCode) = 0;

  // Main thread. Dispatches messages and timers until PostQuit; returns its exit code.
  virtual int RunMessageLoop() = 0;
};

#pragma once
// IMessageWindow as a real Win32 window: class "QUAVIXSERVER" (string 109), title string 103,
// style WS_MINIMIZE only, never left visible. One per process.

#include <windows.h>

#include <atomic>
#include <map>

#include "app/IMessageWindow.h"

class Win32MessageWindow final : public IMessageWindow {
 public:
  // `showCommand` is the one the process was started with; the window is shown with it once,
  // updated and hidden again.
  Win32MessageWindow(HINSTANCE module, int showCommand);
  ~Win32MessageWindow() override;

  bool Create(IWindowProcedure* procedure) override;
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t DefaultProcedure(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void Destroy() override;
  // From another thread the arming travels to the window's thread as WM_ARM_TIMER, because a
  // window timer can only be set by the thread that owns the window.
  void SetTimer(uint32_t id, uint32_t periodMs) override;
  void SetTimerProcedure(uint32_t id, uint32_t periodMs, TimerProcedure procedure) override;
  void KillTimer(uint32_t id) override;
  void PostQuit(int exitCode) override;
  // GetMessageW / TranslateAcceleratorW (table 109, which does not exist) / TranslateMessage /
  // DispatchMessageW until WM_QUIT; returns its exit code.
  int RunMessageLoop() override;

  // Null before Create and after destruction. Any thread.
  HWND Handle() const { return window_.load(); }

  // Private message that arms a window timer on the window's thread: wParam id, lParam period.
  static constexpr UINT WM_ARM_TIMER = WM_APP + 1;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
  void RegisterWindowClass();
  bool CreateHiddenWindow();

  HINSTANCE module_;
  int showCommand_;
  DWORD ownerThread_ = 0;
  std::atomic<HWND> window_{nullptr};
  IWindowProcedure* procedure_ = nullptr;  // main thread
  std::map<UINT_PTR, TimerProcedure> timerProcedures_;  // main thread

  static Win32MessageWindow* instance_;  // the process's one window (main thread)
  friend HWND HiddenWindowHandle();
};

// The process's hidden window, null while there is none. Any thread.
HWND HiddenWindowHandle();

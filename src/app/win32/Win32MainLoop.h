#pragma once
// The main loop as the hidden window's message loop: class "QUAVIXSERVER" (string 109), title
// string 103, style WS_MINIMIZE only, never left visible. Its window procedure turns the
// messages it receives into the shell's events:
//   WM_TRAY_NOTIFY for icon 1000 with WM_LBUTTONDOWN / WM_RBUTTONDOWN -> OnTrayIconPressed
//   WM_SHOW_SETTINGS -> OnSettingsRequested;  WM_CLOSE -> OnQuitRequested
//   WM_ADD_TRAY_ICON and the registered "TaskbarCreated" -> OnNotificationAreaAppeared
//   the registered "QuavixServer_PortChanged" -> OnPortChangeAnnounced
//   WM_COPYDATA tagged kRequestCopyData -> the request handler, once one is set; its reply goes
//     back by WM_COPYDATA tagged kReplyCopyData to the window in wParam
//   WM_COMMAND 105 -> the window is destroyed and the loop ends with 0 (the icon stays)
// One per process.

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>

#include "app/IRequestChannel.h"
#include "app/QueuedMainLoop.h"

class Win32MainLoop final : public QueuedMainLoop {
 public:
  // `showCommand` is the one the process was started with; the window is shown with it once,
  // updated and hidden again.
  Win32MainLoop(HINSTANCE module, int showCommand);
  ~Win32MainLoop() override;

  bool Open(IShellEvents& events) override;
  void StopTimer(ShellTimer timer) override;
  // Destroys the window; its WM_DESTROY posts WM_QUIT with the code.
  // Start-up never ends early here: a close or end of session waits in the queue for Run.
  void QuitInOrderFromNowOn() override {}
  void Quit(int exitCode) override;
  // GetMessageW / TranslateAcceleratorW (table 109, which does not exist) / TranslateMessage /
  // DispatchMessageW until WM_QUIT; returns its exit code.
  int Run() override;

  // Null before Open and after destruction. Any thread.
  HWND Handle() const { return window_.load(); }
  // Main thread. Answers requests from now on; null: refuses them (WM_COPYDATA gives FALSE).
  void SetRequestHandler(IRequestChannel::Handler handler) { requestHandler_ = std::move(handler); }

 private:
  bool Wakeable() const override { return window_.load() != nullptr; }
  void Wake() override;  // WM_RUN_TASKS to the window
  // Only the thread that owns the window may set its timers.
  bool OnMainThread() const override { return GetCurrentThreadId() == ownerThread_; }
  void StartHere(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) override;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunTasks();
  // A request's WM_COPYDATA: TRUE once it is answered.
  LRESULT AnswerRequest(HWND window, HWND asker, const COPYDATASTRUCT* request);
  void RegisterWindowClass(const wchar_t* className);
  bool CreateHiddenWindow(const wchar_t* className);

  HINSTANCE module_;
  int showCommand_;
  DWORD ownerThread_ = 0;
  std::atomic<HWND> window_{nullptr};
  IShellEvents* events_ = nullptr;  // main thread
  UINT taskbarCreated_ = 0;
  UINT portChanged_ = 0;
  int quitCode_ = 0;
  std::map<UINT_PTR, std::function<void()>> ticks_;  // main thread
  IRequestChannel::Handler requestHandler_;          // main thread

  static Win32MainLoop* instance_;  // the process's one loop (main thread)
  friend HWND HiddenWindowHandle();
};

// The hidden window as the request channel: a request comes by WM_COPYDATA to it, and its reply
// goes by WM_COPYDATA to the asker's window.
class WindowRequestChannel final : public IRequestChannel {
 public:
  explicit WindowRequestChannel(Win32MainLoop& loop) : loop_(loop) {}
  bool Open(Handler handler) override {
    loop_.SetRequestHandler(std::move(handler));
    return true;
  }
  void Close() override { loop_.SetRequestHandler(nullptr); }

 private:
  Win32MainLoop& loop_;
};

// The process's hidden window, null while there is none. Any thread.
HWND HiddenWindowHandle();

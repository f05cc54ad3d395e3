#include "app/win32/Win32MainLoop.h"

#include "app/Requests.h"
#include "app/win32/ResourceIds.h"
#include "app/win32/ShellMessages.h"

Win32MainLoop* Win32MainLoop::instance_ = nullptr;

namespace {

// Strings loaded from resources go through 100-character buffers.
struct ResourceText {
  wchar_t text[100] = {};
  ResourceText(HINSTANCE module, UINT id) { LoadStringW(module, id, text, 100); }
};

UINT_PTR TimerId(ShellTimer timer) {
  return timer == ShellTimer::BroadcastRetry ? TIMER_BROADCAST_RETRY
         : timer == ShellTimer::MixerPoll    ? TIMER_MIXER_POLL
                                             : TIMER_KEEPALIVE;
}

}  // namespace

HWND HiddenWindowHandle() {
  Win32MainLoop* loop = Win32MainLoop::instance_;
  return loop != nullptr ? loop->Handle() : nullptr;
}

Win32MainLoop::Win32MainLoop(HINSTANCE module, int showCommand)
    : module_(module), showCommand_(showCommand) {}

Win32MainLoop::~Win32MainLoop() {
  // A start-up that failed after opening returns with the window still there and the events'
  // owner already gone; the destruction messages then get the default handling.
  events_ = nullptr;
  if (HWND window = window_.load()) DestroyWindow(window);
  if (instance_ == this) instance_ = nullptr;
}

bool Win32MainLoop::Open(IShellEvents& events) {
  events_ = &events;
  ownerThread_ = GetCurrentThreadId();
  instance_ = this;
  taskbarCreated_ = RegisterWindowMessageW(kTaskbarCreatedMessage);
  portChanged_ = RegisterWindowMessageW(kPortChangedMessage);
  ResourceText className(module_, IDS_WINDOW_CLASS);
  RegisterWindowClass(className.text);  // a failure shows up as a failed creation
  return CreateHiddenWindow(className.text);
}

void Win32MainLoop::RegisterWindowClass(const wchar_t* className) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = module_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = className;
  RegisterClassExW(&windowClass);
}

bool Win32MainLoop::CreateHiddenWindow(const wchar_t* className) {
  ResourceText title(module_, IDS_APP_TITLE);
  HWND window = CreateWindowExW(0, className, title.text, WS_MINIMIZE, 0, 0, 0, 0, nullptr, nullptr,
                                module_, nullptr);
  if (window == nullptr) return false;
  window_.store(window);
  // The first ShowWindow of a process takes the starter's show command; spend it here so that
  // the window never stays visible, whatever the starter asked for.
  ShowWindow(window, showCommand_);
  UpdateWindow(window);
  ShowWindow(window, SW_HIDE);
  return true;
}

LRESULT CALLBACK Win32MainLoop::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  Win32MainLoop* self = instance_;
  if (self == nullptr || self->events_ == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // Messages sent during CreateWindowExW arrive before it returns the handle.
  if (self->window_.load() == nullptr) self->window_.store(window);
  return self->Dispatch(window, message, wParam, lParam);
}

LRESULT Win32MainLoop::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      auto found = ticks_.find(wParam);
      if (found != ticks_.end()) {
        const std::function<void()> tick = found->second;  // the tick may start it anew
        tick();
      }
      return 0;
    }
    case WM_RUN_TASKS:
      RunTasks();
      return 0;
    case WM_TRAY_NOTIFY:
      if (wParam == kTrayIconId && (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN)) {
        events_->OnTrayIconPressed();
      }
      return 0;
    case WM_SHOW_SETTINGS:
      events_->OnSettingsRequested();
      return 0;
    case WM_COPYDATA:
      return AnswerRequest(window, reinterpret_cast<HWND>(wParam),
                           reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_ADD_TRAY_ICON:
      events_->OnNotificationAreaAppeared();
      return 0;
    case WM_CLOSE:
      events_->OnQuitRequested();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDM_EXIT) {
        DestroyWindow(window);  // the icon stays: this path never removes it
        return 0;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
      tasks_.Close();
      PostQuitMessage(quitCode_);
      return 0;
    case WM_NCDESTROY:
      window_.store(nullptr);
      return DefWindowProcW(window, message, wParam, lParam);
    default:
      if (message != 0 && message == taskbarCreated_) {
        events_->OnNotificationAreaAppeared();
        return 0;
      }
      if (message != 0 && message == portChanged_) {
        events_->OnPortChangeAnnounced();
        return 0;
      }
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT Win32MainLoop::AnswerRequest(HWND window, HWND asker, const COPYDATASTRUCT* request) {
  // Before the handler is set, start-up is still under way: the asker tries again.
  if (!requestHandler_ || request == nullptr || request->dwData != kRequestCopyData ||
      request->cbData > kLongestRequestLine || !IsWindow(asker)) {
    return FALSE;
  }
  const std::string line(static_cast<const char*>(request->lpData), request->cbData);
  const std::string reply = requestHandler_(line);
  COPYDATASTRUCT answer{kReplyCopyData, static_cast<DWORD>(reply.size()),
                        const_cast<char*>(reply.data())};
  // The asker waits inside its own send, which takes this one in; a hung asker costs 2 s.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                      reinterpret_cast<LPARAM>(&answer), SMTO_ABORTIFHUNG, 2000, &ignored);
  return TRUE;
}

void Win32MainLoop::Wake() {
  if (HWND window = window_.load()) PostMessageW(window, WM_RUN_TASKS, 0, 0);
}

void Win32MainLoop::RunTasks() {
  for (std::function<void()>& task : tasks_.Take()) {
    if (!tasks_.Closed()) task();
  }
}

void Win32MainLoop::StartHere(ShellTimer timer, uint32_t periodMs, std::function<void()> tick) {
  HWND window = window_.load();
  if (tasks_.Closed() || window == nullptr) return;
  ticks_[TimerId(timer)] = std::move(tick);
  ::SetTimer(window, TimerId(timer), periodMs, nullptr);  // restarts a running timer's period
}

void Win32MainLoop::StopTimer(ShellTimer timer) {
  // Forgetting the tick too: a WM_TIMER already queued then finds nothing to run.
  ticks_.erase(TimerId(timer));
  if (HWND window = window_.load()) ::KillTimer(window, TimerId(timer));
}

void Win32MainLoop::Quit(int exitCode) {
  quitCode_ = exitCode;
  tasks_.Close();
  ticks_.clear();
  if (HWND window = window_.load()) {
    DestroyWindow(window);  // timers end with it; WM_DESTROY posts the quit
  } else {
    PostQuitMessage(exitCode);
  }
}

int Win32MainLoop::Run() {
  HACCEL accelerators = LoadAcceleratorsW(module_, MAKEINTRESOURCEW(IDA_MAIN));
  MSG message{};
  BOOL got;
  // GetMessageW gives -1 on an invalid call; that ends the loop rather than spinning on it.
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return got == 0 ? static_cast<int>(message.wParam) : 0;
}

#include "app/win32/Win32MessageWindow.h"

#include "app/win32/ResourceIds.h"

Win32MessageWindow* Win32MessageWindow::instance_ = nullptr;

namespace {

// Strings loaded from resources go through 100-character buffers.
struct ResourceText {
  wchar_t text[100] = {};
  ResourceText(HINSTANCE module, UINT id) { LoadStringW(module, id, text, 100); }
};

}  // namespace

HWND HiddenWindowHandle() {
  Win32MessageWindow* window = Win32MessageWindow::instance_;
  return window != nullptr ? window->Handle() : nullptr;
}

Win32MessageWindow::Win32MessageWindow(HINSTANCE module, int showCommand)
    : module_(module), showCommand_(showCommand) {}

Win32MessageWindow::~Win32MessageWindow() {
  // A start-up that failed after creating the window returns with the window still there and
  // its procedure already gone; the destruction messages then get the default handling.
  procedure_ = nullptr;
  if (HWND window = window_.load()) DestroyWindow(window);
  if (instance_ == this) instance_ = nullptr;
}

bool Win32MessageWindow::Create(IWindowProcedure* procedure) {
  procedure_ = procedure;
  ownerThread_ = GetCurrentThreadId();
  instance_ = this;
  RegisterWindowClass();  // a failure shows up as a failed creation
  return CreateHiddenWindow();
}

void Win32MessageWindow::RegisterWindowClass() {
  ResourceText className(module_, IDS_WINDOW_CLASS);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = module_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = className.text;
  RegisterClassExW(&windowClass);
}

bool Win32MessageWindow::CreateHiddenWindow() {
  ResourceText title(module_, IDS_APP_TITLE);
  ResourceText className(module_, IDS_WINDOW_CLASS);
  HWND window = CreateWindowExW(0, className.text, title.text, WS_MINIMIZE, 0, 0, 0, 0, nullptr,
                                nullptr, module_, nullptr);
  if (window == nullptr) return false;
  window_.store(window);
  // The first ShowWindow of a process takes the starter's show command; spend it here so that
  // the window never stays visible, whatever the starter asked for.
  ShowWindow(window, showCommand_);
  UpdateWindow(window);
  ShowWindow(window, SW_HIDE);
  return true;
}

LRESULT CALLBACK Win32MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  Win32MessageWindow* self = instance_;
  if (self == nullptr || self->procedure_ == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // Messages sent during CreateWindowExW arrive before it returns the handle.
  if (self->window_.load() == nullptr) self->window_.store(window);
  switch (message) {
    case WM_ARM_TIMER:
      ::SetTimer(window, wParam, static_cast<UINT>(lParam), nullptr);
      return 0;
    case WM_NCDESTROY:
      self->window_.store(nullptr);
      return DefWindowProcW(window, message, wParam, lParam);
    default:
      return self->procedure_->HandleMessage(message, wParam, lParam);
  }
}

void CALLBACK Win32MessageWindow::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  Win32MessageWindow* self = instance_;
  if (self == nullptr) return;
  auto found = self->timerProcedures_.find(id);
  if (found != self->timerProcedures_.end()) found->second();
}

void Win32MessageWindow::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // A null handle would post to the calling thread's own queue instead.
  if (HWND window = window_.load()) PostMessageW(window, message, wParam, lParam);
}

intptr_t Win32MessageWindow::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  HWND window = window_.load();
  return window != nullptr ? SendMessageW(window, message, wParam, lParam) : 0;
}

intptr_t Win32MessageWindow::DefaultProcedure(uint32_t message, uintptr_t wParam,
                                              intptr_t lParam) {
  HWND window = window_.load();
  return window != nullptr ? DefWindowProcW(window, message, wParam, lParam) : 0;
}

void Win32MessageWindow::Destroy() {
  if (HWND window = window_.load()) DestroyWindow(window);
}

void Win32MessageWindow::SetTimer(uint32_t id, uint32_t periodMs) {
  HWND window = window_.load();
  if (window == nullptr) return;
  if (GetCurrentThreadId() == ownerThread_) {
    ::SetTimer(window, id, periodMs, nullptr);
  } else {
    PostMessageW(window, WM_ARM_TIMER, id, static_cast<LPARAM>(periodMs));
  }
}

void Win32MessageWindow::SetTimerProcedure(uint32_t id, uint32_t periodMs,
                                           TimerProcedure procedure) {
  HWND window = window_.load();
  if (window == nullptr) return;
  timerProcedures_[id] = procedure;
  ::SetTimer(window, id, periodMs, &TimerProc);
}

void Win32MessageWindow::KillTimer(uint32_t id) {
  // Forgetting the procedure too: a tick already queued then finds nothing to run.
  timerProcedures_.erase(id);
  if (HWND window = window_.load()) ::KillTimer(window, id);
}

void Win32MessageWindow::PostQuit(int exitCode) { PostQuitMessage(exitCode); }

int Win32MessageWindow::RunMessageLoop() {
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

// The hidden window under Wine: message delivery, timers armed from any thread, timer
// procedures, destruction and the message loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/ShellIds.h"
#include "app/win32/Win32MessageWindow.h"

namespace {

struct Delivery {
  uint32_t message;
  uintptr_t wParam;
  DWORD thread;
};

// Records our messages and stops the loop on a chosen one.
class RecordingProcedure final : public IWindowProcedure {
 public:
  explicit RecordingProcedure(Win32MessageWindow& window) : window_(window) {}
  intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (message == kWmTimer || message == kWmDestroy || message >= WM_USER) {
      deliveries.push_back({message, wParam, GetCurrentThreadId()});
    }
    if (message == kWmDestroy) window_.PostQuit(7);
    if (message == kWmTimer && wParam == quitOnTimer) window_.PostQuit(0);
    if (message == WM_USER + 50) return 1234;
    return window_.DefaultProcedure(message, wParam, lParam);
  }
  size_t Count(uint32_t message, uintptr_t wParam) const {
    size_t n = 0;
    for (const Delivery& d : deliveries) n += d.message == message && d.wParam == wParam;
    return n;
  }
  std::vector<Delivery> deliveries;
  uintptr_t quitOnTimer = 0;

 private:
  Win32MessageWindow& window_;
};

int gPollTicks = 0;
Win32MessageWindow* gWindowForProc = nullptr;
void CountPollTick() {
  if (++gPollTicks == 3) gWindowForProc->PostQuit(0);
}

class MessageWindow : public testing::Test {
 protected:
  // A destroyed window posts its quit code; drain it so the next test's loop starts clean.
  void TearDown() override {
    window.Destroy();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  Win32MessageWindow window{GetModuleHandleW(nullptr), SW_SHOWNORMAL};
  RecordingProcedure procedure{window};
};

}  // namespace

TEST_F(MessageWindow, CreatesAnInvisibleMinimizedWindowOfTheClass) {
  ASSERT_TRUE(window.Create(&procedure));
  HWND handle = window.Handle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(HiddenWindowHandle(), handle);
  EXPECT_FALSE(IsWindowVisible(handle)) << "shown with the start-up command, then hidden";
  wchar_t name[100] = {};
  GetClassNameW(handle, name, 100);
  EXPECT_STREQ(name, L"QUAVIXSERVER");
  GetWindowTextW(handle, name, 100);
  EXPECT_STREQ(name, L"Quavix Server");
  EXPECT_EQ(window.Send(WM_USER + 50, 0, 0), 1234);
}

TEST_F(MessageWindow, TimerArmedFromAnotherThreadTicksOnTheWindowThread) {
  ASSERT_TRUE(window.Create(&procedure));
  procedure.quitOnTimer = TIMER_BROADCAST_RETRY;
  std::thread([&] { window.SetTimer(TIMER_BROADCAST_RETRY, 20); }).join();
  EXPECT_EQ(window.RunMessageLoop(), 0);
  ASSERT_EQ(procedure.Count(kWmTimer, TIMER_BROADCAST_RETRY), 1u);
  EXPECT_EQ(procedure.deliveries.back().thread, GetCurrentThreadId());
  for (const Delivery& d : procedure.deliveries) {
    EXPECT_NE(d.message, Win32MessageWindow::WM_ARM_TIMER) << "the arming stays internal";
  }
}

TEST_F(MessageWindow, PostedMessagesAndPeriodicTimers) {
  ASSERT_TRUE(window.Create(&procedure));
  window.Post(WM_SHOW_SETTINGS, 5, 0);
  window.SetTimer(TIMER_KEEPALIVE, 10);
  procedure.quitOnTimer = TIMER_BROADCAST_RETRY;
  // The keep-alive ticks repeatedly before the one-off stop timer fires.
  window.SetTimer(TIMER_BROADCAST_RETRY, 200);
  EXPECT_EQ(window.RunMessageLoop(), 0);
  EXPECT_EQ(procedure.Count(WM_SHOW_SETTINGS, 5), 1u);
  EXPECT_GE(procedure.Count(kWmTimer, TIMER_KEEPALIVE), 2u) << "periodic";
}

TEST_F(MessageWindow, TimerProcedureBypassesTheWindowProcedureAndStopsWhenKilled) {
  ASSERT_TRUE(window.Create(&procedure));
  gPollTicks = 0;
  gWindowForProc = &window;
  window.SetTimerProcedure(TIMER_MIXER_POLL, 10, &CountPollTick);
  EXPECT_EQ(window.RunMessageLoop(), 0);
  EXPECT_EQ(gPollTicks, 3);
  EXPECT_EQ(procedure.Count(kWmTimer, TIMER_MIXER_POLL), 0u);

  window.KillTimer(TIMER_MIXER_POLL);
  procedure.quitOnTimer = TIMER_BROADCAST_RETRY;
  window.SetTimer(TIMER_BROADCAST_RETRY, 100);
  EXPECT_EQ(window.RunMessageLoop(), 0);
  EXPECT_EQ(gPollTicks, 3) << "no tick after KillTimer, not even one already queued";
}

TEST_F(MessageWindow, CloseDestroysAndTheLoopEndsWithTheQuitCode) {
  ASSERT_TRUE(window.Create(&procedure));
  window.SetTimer(TIMER_KEEPALIVE, 10);
  window.Post(kWmClose, 0, 0);  // DefWindowProcW destroys the window
  EXPECT_EQ(window.RunMessageLoop(), 7);
  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_EQ(procedure.Count(kWmDestroy, 0), 1u);
  // Nothing reaches a destroyed window, from any thread.
  const size_t before = procedure.deliveries.size();
  window.Post(WM_SHOW_SETTINGS, 0, 0);
  std::thread([&] { window.SetTimer(TIMER_BROADCAST_RETRY, 10); }).join();
  window.Destroy();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(procedure.deliveries.size(), before);
}

namespace {
bool gProcedureGone = false;
int gCallsAfterGone = 0;
struct ShortLivedProcedure final : IWindowProcedure {
  ~ShortLivedProcedure() override { gProcedureGone = true; }
  intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (gProcedureGone) ++gCallsAfterGone;
    return DefWindowProcW(HiddenWindowHandle(), message, wParam, lParam);
  }
};
}  // namespace

TEST(MessageWindowLifetime, DestroyedWithTheObjectWithoutCallingAProcedureThatIsGone) {
  // A failed start-up leaves the window to the object's destructor, after the procedure (the
  // shell's tray window) has already been destroyed.
  gProcedureGone = false;
  gCallsAfterGone = 0;
  HWND handle = nullptr;
  {
    Win32MessageWindow window(GetModuleHandleW(nullptr), SW_HIDE);
    ShortLivedProcedure procedure;  // destroyed first
    ASSERT_TRUE(window.Create(&procedure));
    handle = window.Handle();
  }
  EXPECT_TRUE(gProcedureGone);
  EXPECT_EQ(gCallsAfterGone, 0);
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(HiddenWindowHandle(), nullptr);
}

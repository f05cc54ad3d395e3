// The hidden window's loop under Wine: the messages that become the shell's events, tasks and
// timers from any thread, quitting and the message loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "app/win32/ShellMessages.h"
#include "app/win32/Win32MainLoop.h"

namespace {

// Records the events with the thread they arrived on; a quit request quits as the shell does.
class RecordingEvents final : public IShellEvents {
 public:
  explicit RecordingEvents(Win32MainLoop& loop) : loop_(loop) {}
  void OnTrayIconPressed() override { Note("pressed"); }
  void OnSettingsRequested() override { Note("settings"); }
  void OnQuitRequested() override {
    Note("quit");
    loop_.Quit(0);
  }
  void OnPortChangeAnnounced() override { Note("port"); }
  void OnNotificationAreaAppeared() override { Note("tray"); }
  void Note(const std::string& event) {
    events.push_back(event);
    threads.push_back(GetCurrentThreadId());
  }
  std::vector<std::string> events;
  std::vector<DWORD> threads;

 private:
  Win32MainLoop& loop_;
};

// A code no test quits with: the loop ran into its deadline.
constexpr int kTimedOut = -99;
void CALLBACK QuitAtDeadline(HWND, UINT, UINT_PTR, DWORD) {
  PostQuitMessage(kTimedOut);
}

class MainLoop : public testing::Test {
 protected:
  // Runs the loop for at most 10 s: a thread timer then ends it with kTimedOut.
  int RunBounded() {
    const UINT_PTR deadline = SetTimer(nullptr, 0, 10000, &QuitAtDeadline);
    const int code = loop.Run();
    KillTimer(nullptr, deadline);
    return code;
  }
  // A destroyed window posts its quit code; drain it so the next test's loop starts clean.
  void TearDown() override {
    if (HWND window = loop.Handle()) DestroyWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  Win32MainLoop loop{GetModuleHandleW(nullptr), SW_SHOWNORMAL};
  RecordingEvents events{loop};
};

}  // namespace

TEST_F(MainLoop, OpensAnInvisibleMinimizedWindowOfTheClass) {
  ASSERT_TRUE(loop.Open(events));
  HWND handle = loop.Handle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(HiddenWindowHandle(), handle);
  EXPECT_FALSE(IsWindowVisible(handle)) << "shown with the start-up command, then hidden";
  wchar_t name[100] = {};
  GetClassNameW(handle, name, 100);
  EXPECT_STREQ(name, L"QUAVIXSERVER");
  GetWindowTextW(handle, name, 100);
  EXPECT_STREQ(name, L"Quavix Server");
}

TEST_F(MainLoop, WindowMessagesBecomeTheShellsEvents) {
  ASSERT_TRUE(loop.Open(events));
  HWND window = loop.Handle();
  SendMessageW(window, WM_TRAY_NOTIFY, 1000, WM_LBUTTONDOWN);
  SendMessageW(window, WM_TRAY_NOTIFY, 1000, WM_RBUTTONDOWN);
  for (LPARAM other :
       {WM_MOUSEMOVE, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_MBUTTONDOWN}) {
    SendMessageW(window, WM_TRAY_NOTIFY, 1000, other);
  }
  SendMessageW(window, WM_TRAY_NOTIFY, 1001, WM_LBUTTONDOWN);  // another icon
  SendMessageW(window, WM_SHOW_SETTINGS, 0, 0);
  SendMessageW(window, WM_ADD_TRAY_ICON, 0, 0);
  // What other programs send: the shell after a restart, and `quavix-server --set-port`.
  SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  PostMessageW(window, RegisterWindowMessageW(L"QuavixServer_PortChanged"), 0, 0);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(RunBounded(), 0);
  EXPECT_EQ(events.events, (std::vector<std::string>{"pressed", "pressed", "settings", "tray",
                                                     "tray", "port", "quit"}));
  EXPECT_EQ(loop.Handle(), nullptr);
}

TEST_F(MainLoop, TasksAndTimersFromAnotherThreadRunOnTheWindowThread) {
  ASSERT_TRUE(loop.Open(events));
  std::vector<DWORD> ran;
  int retries = 0;
  std::thread([&] {
    loop.RunOnMainThread([&] { ran.push_back(GetCurrentThreadId()); });
    loop.StartTimer(ShellTimer::BroadcastRetry, 20, [&] {
      ran.push_back(GetCurrentThreadId());
      if (++retries == 2) loop.Quit(5);
    });
  }).join();
  EXPECT_EQ(RunBounded(), 5);
  ASSERT_EQ(ran.size(), 3u);
  for (DWORD thread : ran) EXPECT_EQ(thread, GetCurrentThreadId());
  // Nothing runs once quit, from any thread.
  std::thread([&] { loop.RunOnMainThread([&] { ran.push_back(0); }); }).join();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(ran.size(), 3u);
}

TEST_F(MainLoop, AStoppedTimerTicksNoMoreNotEvenOnceAlreadyQueued) {
  ASSERT_TRUE(loop.Open(events));
  int polls = 0;
  loop.StartTimer(ShellTimer::MixerPoll, 10, [&] {
    if (++polls == 3) {
      loop.StopTimer(ShellTimer::MixerPoll);
      loop.StartTimer(ShellTimer::KeepAlive, 100, [&] { loop.Quit(0); });
    }
  });
  EXPECT_EQ(RunBounded(), 0);
  EXPECT_EQ(polls, 3);
}

TEST_F(MainLoop, TheExitCommandEndsTheLoopWithZero) {
  ASSERT_TRUE(loop.Open(events));
  PostMessageW(loop.Handle(), WM_COMMAND, MAKEWPARAM(105, 0), 0);
  EXPECT_EQ(RunBounded(), 0);
  EXPECT_EQ(loop.Handle(), nullptr);
  EXPECT_TRUE(events.events.empty()) << "no quit request: the icon stays";
}

TEST(MainLoopLifetime, DestroyedWithTheObjectWithoutReportingToEventsThatAreGone) {
  // A failed start-up leaves the window to the loop's destructor, after the shell's events
  // have already gone.
  HWND handle = nullptr;
  {
    Win32MainLoop loop(GetModuleHandleW(nullptr), SW_HIDE);
    {
      RecordingEvents events(loop);
      ASSERT_TRUE(loop.Open(events));
      handle = loop.Handle();
    }
  }
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(HiddenWindowHandle(), nullptr);
}

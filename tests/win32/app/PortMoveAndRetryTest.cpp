// Under Wine: the relay's retry as a one-shot timer of the hidden window's loop, and
// --set-port's request to the hidden window.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "app/ShellTimers.h"
#include "app/win32/RunningServer.h"
#include "app/win32/Win32MainLoop.h"
#include "fakes/FakeClock.h"

namespace {

class QuietEvents final : public IShellEvents {
 public:
  void OnTrayIconPressed() override {}
  void OnSettingsRequested() override {}
  void OnQuitRequested() override {}
  void OnPortChangeAnnounced() override {}
  void OnNotificationAreaAppeared() override {}
};

}  // namespace

TEST(RetryOnTheWindowLoop, TicksOnceForTheDelayAndNotAgainUnlessArmedAgain) {
  Win32MainLoop loop{GetModuleHandleW(nullptr), SW_SHOWNORMAL};
  QuietEvents events;
  ASSERT_TRUE(loop.Open(events));
  FakeClock clock;
  LoopRetryTimer* self = nullptr;
  int ticks = 0;
  LoopRetryTimer retry(loop, clock, [&] {
    if (++ticks == 1) {
      self->Arm(20);  // still a client held off
      return;
    }
    // Nobody held off now: a periodic timer would tick again within 300 ms.
    loop.StartTimer(ShellTimer::KeepAlive, 300, [&] { loop.Quit(ticks); });
  });
  self = &retry;
  std::thread([&] { retry.Arm(20); }).join();  // armed from a reader thread
  EXPECT_EQ(loop.Run(), 2);
  DestroyWindow(loop.Handle());
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

TEST(CopyDataRunningServer, AsksTheServersWindowAndBringsItsReplyBack) {
  std::string reply, reason;
  ASSERT_EQ(CopyDataRunningServer().Ask("port 9000", &reply, &reason), AskResult::NoneRunning);

  Win32MainLoop loop{GetModuleHandleW(nullptr), SW_SHOWNORMAL};
  QuietEvents events;
  ASSERT_TRUE(loop.Open(events));
  // Its window is there, but start-up has not opened the channel yet.
  const DWORD start = GetTickCount();
  EXPECT_EQ(CopyDataRunningServer(300).Ask("port 9000", &reply, &reason), AskResult::Failed);
  EXPECT_NE(reason.find("still starting up"), std::string::npos) << reason;
  EXPECT_LT(GetTickCount() - start, 3000u);

  WindowRequestChannel channel(loop);
  std::string heard;
  ASSERT_TRUE(channel.Open([&](const std::string& line) {
    heard = line;
    return "ok moved to " + line.substr(5);
  }));
  EXPECT_EQ(CopyDataRunningServer().Ask("port 9000", &reply, &reason), AskResult::Answered)
      << reason;
  EXPECT_EQ(heard, "port 9000");
  EXPECT_EQ(reply, "ok moved to 9000");

  channel.Close();
  DestroyWindow(loop.Handle());
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(CopyDataRunningServer().Ask("port 9000", &reply, &reason), AskResult::NoneRunning);
}

// Under Wine: the relay's retry as a one-shot timer of the hidden window's loop, and
// --set-port's wait for the server's greeting on its new port.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

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

// A loopback listener on a port of the system's choosing; `greet` sends the greeting to the
// one client it accepts.
class Listener {
 public:
  explicit Listener(bool greet) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    int length = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(socket_, 4);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (greet) {
      thread_ = std::thread([this] {
        const SOCKET client = accept(socket_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        const char greeting[] = {0x19, static_cast<char>(0xC8), static_cast<char>(0xDE), 0};
        send(client, greeting, 4, 0);
        char byte;
        recv(client, &byte, 1, 0);  // until the prober closes
        closesocket(client);
      });
    }
  }
  ~Listener() {
    closesocket(socket_);
    if (thread_.joinable()) thread_.join();
    WSACleanup();
  }
  uint16_t Port() const { return port_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
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

TEST(SetPortWait, AGreetingOnTheNewPortIsTheMoveAndSilenceIsNot) {
  PostRunningServer runningServer;
  std::string reason;
  {
    Listener server(true);
    EXPECT_TRUE(runningServer.AwaitGreeting(server.Port(), 2000, &reason)) << reason;
  }
  Listener other(false);  // another program: it holds the port and says nothing
  const DWORD start = GetTickCount();
  EXPECT_FALSE(runningServer.AwaitGreeting(other.Port(), 1000, &reason));
  EXPECT_LT(GetTickCount() - start, 3000u);
  EXPECT_EQ(reason, "port " + std::to_string(other.Port()) + " is in use by another program");
}

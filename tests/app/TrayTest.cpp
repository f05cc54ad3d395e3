#include <gtest/gtest.h>

#include <thread>

#include "RunningShell.h"
#include "app/ListenAddresses.h"
#include "app/ShellTimers.h"
#include "fakes/FakeClock.h"

namespace {

using TrayTest = RunningShell;

TEST_F(TrayTest, APressOpensTheMenuAndItsChoiceIsCarriedOutAfterIt) {
  shell.menu.choice = MenuCommand::Settings;
  app.tray.OnTrayIconPressed();
  ASSERT_EQ(shell.menu.lastItems.size(), 3u);
  EXPECT_EQ(shell.menu.lastItems[0].text, "&Settings");
  EXPECT_TRUE(shell.menu.lastItems[1].columnBreak);
  EXPECT_EQ(shell.menu.lastItems[2].text, "&Quit Quavix");
  EXPECT_EQ(shell.dialog.runs, 0);
  shell.loop.RunTasks();
  EXPECT_EQ(shell.dialog.runs, 1);

  shell.menu.choice = MenuCommand::None;
  app.tray.OnTrayIconPressed();
  shell.loop.RunTasks();
  EXPECT_EQ(shell.dialog.runs, 1);
  EXPECT_FALSE(shell.loop.QuitCode());

  shell.menu.choice = MenuCommand::Quit;
  app.tray.OnTrayIconPressed();
  EXPECT_TRUE(shell.tray.shown);
  shell.loop.RunTasks();
  EXPECT_EQ(shell.loop.QuitCode(), 0);
  EXPECT_FALSE(shell.tray.shown);
}

TEST_F(TrayTest, WithThePageServedTheMenuOpensItAboveQuitAndTheTextsSayWhere) {
  shell.server.pagePort = 17496;
  app.listening.Started(17495);
  EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:17495 - http://192.168.1.20:17496/");
  EXPECT_NE(shell.Out().find("192.168.1.20:17495, control page http://192.168.1.20:17496/\n"),
            std::string::npos);
  shell.menu.choice = MenuCommand::OpenPage;
  app.tray.OnTrayIconPressed();
  ASSERT_EQ(shell.menu.lastItems.size(), 4u);
  EXPECT_EQ(shell.menu.lastItems[0].text, "&Settings");
  EXPECT_EQ(shell.menu.lastItems[2].text, "&Open control page");
  EXPECT_EQ(shell.menu.lastItems[3].text, "&Quit Quavix");
  EXPECT_EQ(shell.openedUrls, std::vector<std::string>{"http://localhost:17496/"});
  EXPECT_FALSE(shell.loop.QuitCode());
}

TEST_F(TrayTest, WithPairingOnTheMenuOpensThePairingPageAndLinksNameWhereThePageIs) {
  shell.server.pagePort = 17496;
  shell.server.pairs = true;
  app.listening.Started(17495);
  EXPECT_EQ(shell.server.pageAddress, "192.168.1.20:17496");
  shell.menu.choice = MenuCommand::PairPhone;
  app.tray.OnTrayIconPressed();
  ASSERT_EQ(shell.menu.lastItems.size(), 5u);
  EXPECT_EQ(shell.menu.lastItems[3].text, "&Pair a phone\u2026");
  EXPECT_EQ(shell.openedUrls, std::vector<std::string>{"http://localhost:17496/pair"});
}

TEST(TrayLater, TheIconComesWhenTheNotificationAreaDoesButNotAfterQuit) {
  for (bool quitFirst : {false, true}) {
    FakeShell shell;
    Shell app{shell.services};
    shell.tray.available = false;
    app.listening.Started(17495);
    app.tray.Show();
    EXPECT_FALSE(shell.tray.shown);
    if (quitFirst) app.tray.OnQuitRequested();
    shell.tray.Appear();
    EXPECT_EQ(shell.tray.shown, !quitFirst);
    EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:17495");
  }
}

// A client held off is tried again when the earliest hold-off ends, and only while some client
// is held off: idle, the retry costs nothing.
TEST(RetryTimer, TicksOnceAtTheEarliestDueTimeAndOnlyWhileAClientIsHeldOff) {
  FakeShell shell;
  FakeClock clock;
  const auto advance = [&](uint32_t ms) {  // the relay's clock and the loop's move together
    for (uint32_t i = 0; i < ms; ++i) {
      clock.Advance(1);
      shell.loop.AdvanceMs(1);
    }
  };
  LoopRetryTimer* self = nullptr;
  int ticks = 0;
  bool defersAgain = true;
  LoopRetryTimer retry(shell.loop, clock, [&] {
    ++ticks;
    if (defersAgain) self->Arm(120);  // the broadcast deferred a client once more
  });
  self = &retry;
  advance(2000);
  EXPECT_EQ(ticks, 0);                          // not before the first deferral
  std::thread([&] { retry.Arm(501); }).join();  // the relay arms it from its own threads
  retry.Arm(700);  // due later than the tick already armed: that tick stays
  advance(200);
  retry.Arm(250);  // due before it: the sooner one wins
  advance(249);
  EXPECT_EQ(ticks, 0);
  advance(1);
  EXPECT_EQ(ticks, 1);
  defersAgain = false;
  advance(119);
  EXPECT_EQ(ticks, 1);
  advance(1);
  EXPECT_EQ(ticks, 2) << "armed again by the tick that deferred";
  advance(5000);
  EXPECT_EQ(ticks, 2) << "nobody held off: no more ticks";
}

TEST(ListeningTexts, NameEveryAddressWithThePort) {
  const std::vector<IpAddress> two = {*ParseIpAddress("192.168.1.20"), *ParseIpAddress("fd00::5")};
  EXPECT_EQ(ListeningLine(17495, two),
            "Quavix Server listening on port 17495: 192.168.1.20:17495, [fd00::5]:17495");
  EXPECT_EQ(ListeningToolTip(17495, two), "Quavix Server - 192.168.1.20:17495, [fd00::5]:17495");
  // Only IPv6 addresses a client elsewhere can use are listed.
  EXPECT_TRUE(IsReachableIPv6(*ParseIpAddress("2001:db8::1")));
  EXPECT_TRUE(IsReachableIPv6(*ParseIpAddress("fd12::1")));
  for (const char* local : {"fe80::1", "::1", "::", "ff02::1", "10.0.0.1"}) {
    EXPECT_FALSE(IsReachableIPv6(*ParseIpAddress(local))) << local;
  }
  EXPECT_EQ(ListeningLine(80, {}),
            "Quavix Server listening on port 80 (no network address other than loopback)");
  EXPECT_EQ(ListeningToolTip(80, {}), "Quavix Server - port 80");
  EXPECT_EQ(ListeningToolTip(80, {}, 8081), "Quavix Server - port 80 - http://localhost:8081/");

  // A pairing link names the first address the gate serves, so the phone beside it gets in.
  const std::vector<IpAddress> mixed = {*ParseIpAddress("203.0.113.7"), *ParseIpAddress("fd00::5"),
                                        *ParseIpAddress("10.0.0.5")};
  EXPECT_EQ(PairingHost(17496, mixed, {}), "[fd00::5]:17496");
  EXPECT_EQ(PairingHost(17496, mixed, {false, {*ParseIpNetwork("10.0.0.0/8")}, 4096}),
            "10.0.0.5:17496");
  EXPECT_EQ(PairingHost(17496, mixed, {true, {}, 4096}), "203.0.113.7:17496");
  EXPECT_EQ(PairingHost(17496, {*ParseIpAddress("203.0.113.7")}, {}), "");
  EXPECT_EQ(PairingHost(17496, {*ParseIpAddress("127.0.0.1")}, {true, {}, 4096}), "");
}

}  // namespace

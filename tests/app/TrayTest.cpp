#include <gtest/gtest.h>

#include <thread>

#include "app/ListenAddresses.h"
#include "app/ShellTimers.h"
#include "app/Tray.h"
#include "fakes/FakeShellPlatform.h"

namespace {

// A server running on the stored 17495, as after start-up.
class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shell.store.SetPort(17495);
    shell.server.BindAndListen(17495);
    shell.server.Start();
    tray.Started(17495);
  }
  void ChooseSettings(std::vector<std::string> typed) {
    shell.dialog.typed = std::move(typed);
    tray.OnSettingsRequested();
  }
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const auto& [text, title] : shell.messageBox.shown) texts.push_back(text);
    return texts;
  }

  FakeShell shell;
  LoggedBoxes boxes{shell.platform};
  Tray tray{shell.services, boxes};
};

TEST_F(TrayTest, APressOpensTheMenuAndItsChoiceIsCarriedOutAfterIt) {
  shell.menu.choice = MenuCommand::Settings;
  tray.OnTrayIconPressed();
  ASSERT_EQ(shell.menu.lastItems.size(), 3u);
  EXPECT_EQ(shell.menu.lastItems[0].text, "&Settings");
  EXPECT_TRUE(shell.menu.lastItems[1].columnBreak);
  EXPECT_EQ(shell.menu.lastItems[2].text, "&Quit Quavix");
  EXPECT_EQ(shell.dialog.runs, 0);
  shell.loop.RunTasks();
  EXPECT_EQ(shell.dialog.runs, 1);

  shell.menu.choice = MenuCommand::None;
  tray.OnTrayIconPressed();
  shell.loop.RunTasks();
  EXPECT_EQ(shell.dialog.runs, 1);
  EXPECT_FALSE(shell.loop.QuitCode());

  shell.menu.choice = MenuCommand::Quit;
  tray.OnTrayIconPressed();
  EXPECT_TRUE(shell.tray.shown);
  shell.loop.RunTasks();
  EXPECT_EQ(shell.loop.QuitCode(), 0);
  EXPECT_FALSE(shell.tray.shown);
}

TEST_F(TrayTest, ANewPortMovesTheServerIsStoredAndSaidWhere) {
  ChooseSettings({"abc", "8080"});
  EXPECT_EQ(shell.dialog.initialText, "17495");
  EXPECT_EQ(shell.dialog.boxes.shown.size(), 1u);  // "abc" was refused, the dialog stayed
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(shell.store.values["port"], "8080");
  EXPECT_EQ(shell.Out(),
            "Quavix Server listening on port 17495: 192.168.1.20:17495\n"
            "Quavix Server listening on port 8080: 192.168.1.20:8080\n");
  EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:8080");
  EXPECT_TRUE(shell.messageBox.shown.empty());
}

TEST_F(TrayTest, TheRunningPortCancelOrNoDialogLeaveTheServerAlone) {
  const int binds = shell.server.binds;
  ChooseSettings({"17495"});
  ChooseSettings({});  // cancelled
  shell.dialog.result = -1;
  tray.OnSettingsRequested();
  shell.dialog.result = 0x10000;  // low 16 bits are 0: taken as Cancel
  tray.OnSettingsRequested();
  EXPECT_EQ(shell.dialog.runs, 4);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(shell.server.binds, binds);
  EXPECT_EQ(shell.server.Serving(), 17495);
}

TEST_F(TrayTest, TheDialogComparesWithTheRunningPortNotTheStoredOne) {
  shell.store.SetPort(9000);  // stored elsewhere, refused by the server
  const int binds = shell.server.binds;
  ChooseSettings({"17495"});
  EXPECT_EQ(shell.dialog.initialText, "17495");
  EXPECT_EQ(shell.server.binds, binds);
  EXPECT_EQ(shell.store.values["port"], "17495");  // the store follows the running port again
}

TEST_F(TrayTest, AnUnbindablePortIsRefusedBeforeAnyoneIsDisconnected) {
  shell.server.busyPorts[8080] = true;
  const int binds = shell.server.binds;
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.binds, binds);
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
  EXPECT_EQ(shell.Err(), "Quavix Server Error: Couldn't bind and listen to network port 8080\n");
}

TEST_F(TrayTest, APortTakenAfterTheProbeFallsBackToTheRunningPort) {
  shell.store.SetPort(9000);  // not where the server runs
  shell.server.busyPorts[8080] = true;
  shell.server.probeSaysFree = true;
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(tray.RunningPort(), 17495);
  EXPECT_EQ(shell.store.values["port"], "9000");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
}

TEST_F(TrayTest, AFailedFallbackIsToldAndTheNextMoveStillWorks) {
  shell.server.probeSaysFree = true;
  shell.server.busyPorts[8080] = true;
  shell.server.busyPorts[17495] = true;  // taken by someone else once the server let it go
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), std::nullopt);
  EXPECT_EQ(tray.RunningPort(), std::nullopt);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Couldn't bind and listen to network port",
                                      "Couldn't listen again on the previous network port"}));
  EXPECT_NE(shell.Err().find("previous network port 17495\n"), std::string::npos);
  EXPECT_EQ(shell.tray.toolTip, "Quavix Server - not listening");

  ChooseSettings({"8081"});
  EXPECT_EQ(shell.server.Serving(), 8081);
  EXPECT_EQ(shell.store.values["port"], "8081");
}

TEST_F(TrayTest, AStoreThatRefusesTheNewPortIsTold) {
  shell.store.writeResult = false;
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't store the network port"});
  EXPECT_EQ(shell.Err(), "Quavix Server Error: Couldn't store the network port 8080\n");
}

TEST_F(TrayTest, AnAnnouncedPortChangeMovesToTheStoredPortByTheSameRules) {
  const int binds = shell.server.binds;
  tray.OnPortChangeAnnounced();  // stored equals running
  EXPECT_EQ(shell.server.binds, binds);

  shell.store.SetPort(8080);
  tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(shell.store.writes, 0);

  shell.store.SetPort(8081);
  shell.server.busyPorts[8081] = true;
  tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
}

TEST(TrayLater, TheIconComesWhenTheNotificationAreaDoesButNotAfterQuit) {
  for (bool quitFirst : {false, true}) {
    FakeShell shell;
    LoggedBoxes boxes{shell.platform};
    Tray tray{shell.services, boxes};
    shell.tray.available = false;
    tray.Started(17495);
    EXPECT_FALSE(shell.tray.shown);
    if (quitFirst) tray.OnQuitRequested();
    shell.tray.Appear();
    EXPECT_EQ(shell.tray.shown, !quitFirst);
    EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:17495");
  }
}

TEST(RetryTimer, EveryTickBroadcastsAndADeferralRestartsThePeriod) {
  FakeShell shell;
  LoopRetryTimer retry(shell.loop, [&] { return shell.server.BroadcastState(); });
  EXPECT_FALSE(shell.loop.Tick(ShellTimer::BroadcastRetry));  // not before the first deferral
  std::thread([&] { retry.Arm(); }).join();  // the relay arms it from its own threads
  EXPECT_EQ(shell.loop.Period(ShellTimer::BroadcastRetry), 500u);

  shell.server.broadcastDefers = true;
  ASSERT_TRUE(shell.loop.Tick(ShellTimer::BroadcastRetry));
  EXPECT_EQ(shell.server.broadcasts, 1);
  EXPECT_EQ(shell.loop.Starts(ShellTimer::BroadcastRetry), 2);

  shell.server.broadcastDefers = false;
  ASSERT_TRUE(shell.loop.Tick(ShellTimer::BroadcastRetry));
  EXPECT_EQ(shell.server.broadcasts, 2);
  EXPECT_EQ(shell.loop.Starts(ShellTimer::BroadcastRetry), 2);
  EXPECT_TRUE(shell.loop.Tick(ShellTimer::BroadcastRetry)) << "periodic, never stopped";
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
}

}  // namespace

namespace {

TEST_F(TrayTest, TheOutsideBoxShowsTheSettingAndAChangeIsStoredAndApplied) {
  shell.dialog.checkAllowOutside = true;
  ChooseSettings({"17495"});
  EXPECT_FALSE(shell.dialog.shownAllowOutside) << "off by default";
  EXPECT_EQ(shell.store.values["allow"], "any");
  ASSERT_TRUE(shell.server.configured);
  EXPECT_TRUE(shell.server.configured->access.anyone);

  shell.dialog.checkAllowOutside = false;
  ChooseSettings({"17495"});
  EXPECT_TRUE(shell.dialog.shownAllowOutside);
  EXPECT_EQ(shell.store.values.count("allow"), 0u) << "off brings the local networks back";
  EXPECT_FALSE(shell.server.configured->access.anyone);

  // A list of the user's own is kept when the box is left alone, and Cancel changes nothing.
  shell.store.values["allow"] = "192.168.1.0/24";
  shell.dialog.checkAllowOutside.reset();
  ChooseSettings({"17495"});
  shell.dialog.checkAllowOutside = true;
  ChooseSettings({});
  EXPECT_EQ(shell.store.values["allow"], "192.168.1.0/24");
}

}  // namespace

#include <gtest/gtest.h>

#include <thread>

#include "app/ListenAddresses.h"
#include "app/PortSettings.h"
#include "app/ShellTimers.h"
#include "app/Tray.h"
#include "fakes/FakeClock.h"
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

TEST_F(TrayTest, WithThePageServedTheMenuOpensItAboveQuitAndTheTextsSayWhere) {
  shell.server.pagePort = 17496;
  tray.Started(17495);
  EXPECT_EQ(shell.tray.toolTip, "Quavix Server - 192.168.1.20:17495 - http://192.168.1.20:17496/");
  EXPECT_NE(shell.Out().find("192.168.1.20:17495, control page http://192.168.1.20:17496/\n"),
            std::string::npos);
  shell.menu.choice = MenuCommand::OpenPage;
  tray.OnTrayIconPressed();
  ASSERT_EQ(shell.menu.lastItems.size(), 4u);
  EXPECT_EQ(shell.menu.lastItems[0].text, "&Settings");
  EXPECT_EQ(shell.menu.lastItems[2].text, "&Open control page");
  EXPECT_EQ(shell.menu.lastItems[3].text, "&Quit Quavix");
  EXPECT_EQ(shell.openedUrls, std::vector<std::string>{"http://localhost:17496/"});
  EXPECT_FALSE(shell.loop.QuitCode());
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
  ChooseSettings({"17495"});
  ChooseSettings({});  // cancelled
  shell.dialog.result = -1;
  tray.OnSettingsRequested();
  shell.dialog.result = 0x10000;  // low 16 bits are 0: taken as Cancel
  tray.OnSettingsRequested();
  EXPECT_EQ(shell.dialog.runs, 4);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.server.Serving(), 17495);
}

TEST_F(TrayTest, TheDialogComparesWithTheRunningPortNotTheStoredOne) {
  shell.store.SetPort(9000);  // stored elsewhere, refused by the server
  ChooseSettings({"17495"});
  EXPECT_EQ(shell.dialog.initialText, "17495");
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.store.values["port"], "17495");  // the store follows the running port again
}

TEST_F(TrayTest, TheServerIsAnnouncedWhereItListensAndNowhereElse) {
  EXPECT_EQ(shell.announcer.announced, 17495);
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.announcer.announced, 8080);

  // A move that fails and falls back is announced on the port it fell back to; one that
  // cannot fall back is withdrawn, since nobody answers.
  shell.server.busyPorts[8081] = true;
  shell.server.probeSaysFree = true;
  ChooseSettings({"8081"});
  EXPECT_EQ(shell.announcer.announced, 8080);
  shell.server.busyPorts[8080] = true;
  ChooseSettings({"8081"});
  EXPECT_EQ(shell.announcer.announced, std::nullopt);

  shell.server.busyPorts.clear();
  ChooseSettings({"8082"});
  EXPECT_EQ(shell.announcer.announced, 8082);
  tray.OnQuitRequested();
  EXPECT_EQ(shell.announcer.announced, std::nullopt);
}

TEST_F(TrayTest, TheLoginBoxShowsTheStateAndOkAppliesAChangeEvenWhenThePortIsRefused) {
  shell.startAtLogin.enabled = true;
  shell.dialog.startAtLogin = false;
  ChooseSettings({});  // cancelled: nothing changes
  EXPECT_TRUE(shell.dialog.initialStartAtLogin);
  EXPECT_EQ(shell.startAtLogin.sets, 0);

  ChooseSettings({"17495"});  // the running port, box unticked
  EXPECT_FALSE(shell.startAtLogin.enabled);

  shell.server.busyPorts[8080] = true;
  shell.dialog.startAtLogin = true;
  ChooseSettings({"8080"});
  EXPECT_FALSE(shell.dialog.initialStartAtLogin);
  EXPECT_TRUE(shell.startAtLogin.enabled);
  EXPECT_EQ(shell.server.Serving(), 17495);

  const int sets = shell.startAtLogin.sets;
  ChooseSettings({"17495"});  // left as it is: not written again
  EXPECT_EQ(shell.startAtLogin.sets, sets);

  shell.startAtLogin.refuse = true;
  shell.dialog.startAtLogin = false;
  ChooseSettings({"17495"});
  EXPECT_EQ(Boxes().back(), "Couldn't change whether Quavix Server starts at login");
}

TEST_F(TrayTest, AnUnbindablePortIsRefusedBeforeAnyoneIsDisconnected) {
  shell.server.busyPorts[8080] = true;
  ChooseSettings({"8080"});
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't bind and listen to network port"});
  EXPECT_EQ(shell.Err(), "quavix-server: Couldn't bind and listen to network port 8080\n");
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
  EXPECT_EQ(shell.Err(), "quavix-server: Couldn't store the network port 8080\n");
}

TEST_F(TrayTest, AnAnnouncedPortChangeMovesToTheStoredPortByTheSameRules) {
  tray.OnPortChangeAnnounced();  // stored equals running
  EXPECT_FALSE(shell.server.clientsDropped);

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

TEST_F(TrayTest, AnAnnouncedPortThatIsRefusedLeavesTheRunningPortStored) {
  shell.store.SetPort(8081);  // --set-port stored it and told us
  shell.server.busyPorts[8081] = true;
  tray.OnPortChangeAnnounced();
  EXPECT_EQ(shell.server.Serving(), 17495);
  EXPECT_EQ(shell.store.values["port"], "17495") << "the next start must not fail on 8081";
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

TEST(ListeningTexts, TheAnnouncedNameTakesTheShortHostNameAndFitsADnsLabel) {
  EXPECT_EQ(ServiceInstanceName("box.example.org"), "Quavix Server on box");
  EXPECT_EQ(ServiceInstanceName(""), "Quavix Server on ");
  const std::string longName = ServiceInstanceName(std::string(60, 'h'));
  EXPECT_EQ(longName, "Quavix Server on " + std::string(63 - 17, 'h'));
  // "é" is two bytes: one that would straddle the 63rd byte goes whole.
  const std::string cut = ServiceInstanceName(std::string(45, 'h') + "\xC3\xA9");
  EXPECT_EQ(cut, "Quavix Server on " + std::string(45, 'h'));
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

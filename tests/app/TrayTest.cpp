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
  EXPECT_EQ(ReadServerPort(shell.store), 8080u);
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
  EXPECT_EQ(ReadServerPort(shell.store), 17495u);  // the store follows the running port again
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
  EXPECT_EQ(ReadServerPort(shell.store), 9000u);
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
  EXPECT_EQ(ReadServerPort(shell.store), 8081u);
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

// A client held off is tried again half a second after the deferral, and again every half
// second; a new deferral meanwhile gives it a full half second from then.
TEST(RetryTimer, EveryTickBroadcastsAndADeferralRestartsThePeriod) {
  FakeShell shell;
  LoopRetryTimer retry(shell.loop, [&] { return shell.server.BroadcastState(); });
  shell.loop.AdvanceMs(2000);
  EXPECT_EQ(shell.server.broadcasts, 0);     // not before the first deferral
  std::thread([&] { retry.Arm(); }).join();  // the relay arms it from its own threads

  shell.server.broadcastDefers = true;
  shell.loop.AdvanceMs(499);
  EXPECT_EQ(shell.server.broadcasts, 0);
  shell.loop.AdvanceMs(1);
  EXPECT_EQ(shell.server.broadcasts, 1);
  shell.server.broadcastDefers = false;
  shell.loop.AdvanceMs(500);
  EXPECT_EQ(shell.server.broadcasts, 2);
  shell.loop.AdvanceMs(500);
  EXPECT_EQ(shell.server.broadcasts, 3) << "periodic, never stopped";

  shell.loop.AdvanceMs(200);
  std::thread([&] { retry.Arm(); }).join();
  shell.loop.AdvanceMs(499);
  EXPECT_EQ(shell.server.broadcasts, 3);
  shell.loop.AdvanceMs(1);
  EXPECT_EQ(shell.server.broadcasts, 4);
}

TEST(ListeningTexts, NameEveryAddressWithThePort) {
  const std::vector<std::string> two = {"192.168.1.20", "10.0.0.5"};
  EXPECT_EQ(ListeningLine(17495, two),
            "Quavix Server listening on port 17495: 192.168.1.20:17495, 10.0.0.5:17495");
  EXPECT_EQ(ListeningToolTip(17495, two), "Quavix Server - 192.168.1.20:17495, 10.0.0.5:17495");
  EXPECT_EQ(ListeningLine(80, {}),
            "Quavix Server listening on port 80 (no network address other than loopback)");
  EXPECT_EQ(ListeningToolTip(80, {}), "Quavix Server - port 80");
}

}  // namespace

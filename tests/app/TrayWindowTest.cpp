#include <gtest/gtest.h>

#include "app/ShellTimers.h"
#include "app/TrayWindow.h"
#include "fakes/FakeShellPlatform.h"

namespace {

class TrayWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shell.window.Create(&tray));
    // A running server on the stored port, as after start-up.
    shell.store.SetPort(17495);
    shell.server.BindAndListen(17495);
    shell.server.Start();
    shell.journal.Clear();
  }

  FakeShell shell;
  TrayWindow tray{shell.services};
};

TEST_F(TrayWindowTest, PressOnTheIconOpensTheMenuAndPostsTheChoice) {
  for (intptr_t press : {kWmLButtonDown, kWmRButtonDown}) {
    shell.menu.choice = kMenuCommandSettings;
    EXPECT_EQ(shell.window.Deliver(WM_TRAY_NOTIFY, kTrayIconId, press), 0);
    auto posted = shell.window.TakePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_SHOW_SETTINGS);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);
  }
  shell.menu.choice = kMenuCommandQuit;
  shell.window.Deliver(WM_TRAY_NOTIFY, kTrayIconId, kWmRButtonDown);
  auto posted = shell.window.TakePosted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, kWmClose);

  ASSERT_EQ(shell.menu.lastItems.size(), 3u);
  EXPECT_EQ(shell.menu.lastItems[0].id, 1026u);
  EXPECT_EQ(shell.menu.lastItems[0].text, "&Settings");
  EXPECT_TRUE(shell.menu.lastItems[1].columnBreak);
  EXPECT_EQ(shell.menu.lastItems[1].id, 0u);
  EXPECT_EQ(shell.menu.lastItems[2].id, 16u);
  EXPECT_EQ(shell.menu.lastItems[2].text, "&Quit Quavix");
}

TEST_F(TrayWindowTest, OtherMouseEventsAndOtherIconsDoNothing) {
  shell.menu.choice = kMenuCommandQuit;
  for (intptr_t event : {512 /*move*/, 514 /*left up*/, 515 /*left double*/, 517 /*right up*/,
                         519 /*middle down*/}) {
    EXPECT_EQ(shell.window.Deliver(WM_TRAY_NOTIFY, kTrayIconId, event), 0);
  }
  EXPECT_EQ(shell.window.Deliver(WM_TRAY_NOTIFY, 1001, kWmLButtonDown), 0);
  EXPECT_EQ(shell.menu.tracks, 0);
  EXPECT_TRUE(shell.window.TakePosted().empty());
}

TEST_F(TrayWindowTest, DismissedOrForeignChoicePostsNothing) {
  for (uint32_t choice : {0u, 105u, 2u}) {
    shell.menu.choice = choice;
    shell.window.Deliver(WM_TRAY_NOTIFY, kTrayIconId, kWmLButtonDown);
  }
  EXPECT_EQ(shell.menu.tracks, 3);
  EXPECT_TRUE(shell.window.TakePosted().empty());
}

TEST_F(TrayWindowTest, TimersRunTheirWorkAndIgnoreOtherIds) {
  EXPECT_EQ(shell.window.Deliver(kWmTimer, TIMER_KEEPALIVE), 0);
  EXPECT_EQ(shell.server.keepAlives, 1);
  EXPECT_EQ(shell.server.broadcasts, 0);
  EXPECT_EQ(shell.window.Deliver(kWmTimer, 7), 0);
  EXPECT_EQ(shell.window.Deliver(kWmTimer, TIMER_MIXER_POLL), 0);
  EXPECT_EQ(shell.server.keepAlives, 1);
  EXPECT_EQ(shell.server.broadcasts, 0);
}

TEST_F(TrayWindowTest, RetryReArmsOnlyWhenAClientWasDeferred) {
  WindowRetryTimer retry(shell.window);
  EXPECT_FALSE(shell.window.TimerArmed(TIMER_BROADCAST_RETRY));
  retry.Arm();  // the relay's first deferral
  EXPECT_EQ(shell.window.TimerPeriod(TIMER_BROADCAST_RETRY), 500u);
  EXPECT_EQ(shell.window.ArmCount(TIMER_BROADCAST_RETRY), 1);

  shell.server.broadcastDefers = true;
  shell.window.Deliver(kWmTimer, TIMER_BROADCAST_RETRY);
  EXPECT_EQ(shell.server.broadcasts, 1);
  EXPECT_EQ(shell.window.ArmCount(TIMER_BROADCAST_RETRY), 2);

  // Nothing deferred: the periodic timer is left running, not armed again.
  shell.server.broadcastDefers = false;
  shell.window.Deliver(kWmTimer, TIMER_BROADCAST_RETRY);
  EXPECT_EQ(shell.server.broadcasts, 2);
  EXPECT_EQ(shell.window.ArmCount(TIMER_BROADCAST_RETRY), 2);
  EXPECT_TRUE(shell.window.TimerArmed(TIMER_BROADCAST_RETRY));
}

TEST_F(TrayWindowTest, CloseDeletesTheIconAndDestroysTheWindow) {
  shell.window.Deliver(WM_ADD_TRAY_ICON);
  EXPECT_TRUE(shell.tray.shown);
  shell.window.Deliver(kWmClose);
  EXPECT_FALSE(shell.tray.shown);
  EXPECT_TRUE(shell.window.Destroyed());
  EXPECT_EQ(shell.window.QuitCode(), 0);
  const std::vector<std::string> expected = {"tray.add", "tray.delete", "window.destroy",
                                             "window.quit 0"};
  EXPECT_EQ(shell.journal.Entries(), expected);
}

TEST_F(TrayWindowTest, ExitCommandDestroysWithoutDeletingTheIcon) {
  shell.window.Deliver(WM_ADD_TRAY_ICON);
  EXPECT_EQ(shell.window.Deliver(kWmCommand, 0x00010000 | kCommandExit), 0);
  EXPECT_TRUE(shell.tray.shown);
  EXPECT_TRUE(shell.window.Destroyed());
  EXPECT_EQ(shell.window.QuitCode(), 0);
}

TEST_F(TrayWindowTest, UnhandledMessagesGoToTheDefaultProcedure) {
  EXPECT_EQ(shell.window.Deliver(kWmCommand, 104), -7);
  EXPECT_EQ(shell.window.Deliver(1028), -7);
  EXPECT_EQ(shell.window.Deliver(0x0200), -7);
  const std::vector<uint32_t> expected = {kWmCommand, 1028, 0x0200};
  EXPECT_EQ(shell.window.DefaultMessages(), expected);
  EXPECT_FALSE(shell.window.Destroyed());
}

TEST_F(TrayWindowTest, NewPortIsStoredAndTheServerRestartedOnIt) {
  shell.dialog.typed = {"abc", "8080"};
  EXPECT_EQ(shell.window.Deliver(WM_SHOW_SETTINGS), 0);
  EXPECT_EQ(shell.dialog.initialText, "17495");
  EXPECT_EQ(shell.dialog.boxes.shown.size(), 1u);  // "abc" was refused, the dialog stayed
  EXPECT_EQ(shell.store.values.at("Software\\Marrowick\\Quavix|ServerPort"),
            (std::vector<uint8_t>{0x90, 0x1F, 0, 0}));
  const std::vector<std::string> expected = {"server.probe 8080", "server.stop", "server.bind 8080",
                                             "server.start"};
  EXPECT_EQ(shell.journal.Entries(), expected);
  EXPECT_EQ(shell.server.listeningPort, 8080);
  EXPECT_TRUE(shell.messageBox.shown.empty());
}

TEST_F(TrayWindowTest, SamePortCancelOrNoDialogTouchNothing) {
  shell.dialog.typed = {"17495"};
  shell.window.Deliver(WM_SHOW_SETTINGS);
  shell.dialog.typed = {};  // cancelled
  shell.window.Deliver(WM_SHOW_SETTINGS);
  shell.dialog.result = -1;
  shell.window.Deliver(WM_SHOW_SETTINGS);
  shell.dialog.result = 0x10000;  // low 16 bits are 0: taken as Cancel
  shell.window.Deliver(WM_SHOW_SETTINGS);
  EXPECT_EQ(shell.dialog.runs, 4);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_TRUE(shell.journal.Entries().empty());
  EXPECT_TRUE(shell.server.running);
}

TEST_F(TrayWindowTest, UnbindablePortIsRefusedBeforeAnyoneIsDisconnected) {
  shell.server.busyPorts[8080] = true;
  shell.dialog.typed = {"8080"};
  shell.window.Deliver(WM_SHOW_SETTINGS);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(ReadServerPort(shell.store), 17495u);
  EXPECT_TRUE(shell.server.running);
  EXPECT_EQ(shell.server.listeningPort, 17495);
  const std::vector<std::string> expected = {
      "server.probe 8080", "box Quavix Server Error: Couldn't bind and listen to network port"};
  EXPECT_EQ(shell.journal.Entries(), expected);
}

TEST_F(TrayWindowTest, PortTakenAfterTheProbeFallsBackToThePreviousOne) {
  shell.server.busyPorts[8080] = true;
  shell.server.probeSaysFree = true;
  shell.dialog.typed = {"8080"};
  shell.window.Deliver(WM_SHOW_SETTINGS);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_EQ(ReadServerPort(shell.store), 17495u);
  EXPECT_TRUE(shell.server.running);
  EXPECT_EQ(shell.server.listeningPort, 17495);
  const std::vector<std::string> expected = {
      "server.probe 8080",
      "server.stop",
      "server.bind 8080",
      "server.stop",
      "server.bind 17495",
      "server.start",
      "box Quavix Server Error: Couldn't bind and listen to network port"};
  EXPECT_EQ(shell.journal.Entries(), expected);
}

}  // namespace

#include <gtest/gtest.h>

#include "RunningShell.h"
#include "app/SettingsFlow.h"

namespace {

TEST(ParsePortText, AcceptsWhatWcstolReadsToTheEndOfTheFirstNineCharacters) {
  const struct {
    const char* text;
    std::optional<uint16_t> port;
  } cases[] = {
      {"8080", 8080},
      {"1", 1},
      {"65535", 65535},
      {"  80", 80},
      {"\t80", 80},
      {"+80", 80},
      {"00080", 80},
      {"-0", std::nullopt},
      // The box may hold more than the dialog reads; what lies beyond is never looked at.
      {"000008080", 8080},
      {"000008080x", 8080},
      {"0000080800", 8080},
      {"        80", 8},
      // Characters, not bytes: a two-byte letter counts once and is never split.
      {"\xC3\xA9", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePortText(c.text), c.port) << '"' << c.text << '"';
}

TEST(ParsePortText, RefusesEverythingElse) {
  for (const char* text : {"", "0", "65536", "-1", "abc", "80a", "80 ", " ", "+", "-", "+-80",
                           "8 0", "0x50", "99999999"}) {
    EXPECT_EQ(ParsePortText(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(SettingsDialogLogic, ShowsThePortAndRefusesWithBadPort) {
  SettingsDialogLogic logic(80);
  EXPECT_EQ(logic.InitialText(), "80");

  RecordingErrorReporter boxes;
  EXPECT_EQ(logic.OnOk("abc", boxes), 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].first, "Port must be an integer within the range 1 to 65535.");
  EXPECT_EQ(boxes.shown[0].second, "Bad Port");
  EXPECT_EQ(logic.OnOk("8080", boxes), 8080);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

using SettingsFlowTest = RunningShell;

TEST_F(SettingsFlowTest, ANewPortMovesTheServerIsStoredAndSaidWhere) {
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

TEST_F(SettingsFlowTest, TheRunningPortCancelOrNoDialogLeaveTheServerAlone) {
  ChooseSettings({"17495"});
  ChooseSettings({});  // cancelled
  shell.dialog.result = -1;
  app.tray.OnSettingsRequested();
  shell.dialog.result = 0x10000;  // low 16 bits are 0: taken as Cancel
  app.tray.OnSettingsRequested();
  EXPECT_EQ(shell.dialog.runs, 4);
  EXPECT_EQ(shell.store.writes, 0);
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.server.Serving(), 17495);
}

TEST_F(SettingsFlowTest, TheDialogComparesWithTheRunningPortNotTheStoredOne) {
  // A port announced from outside was refused, and the running one could not be stored back.
  shell.store.SetPort(9000);
  shell.server.busyPorts[9000] = true;
  shell.store.writeResult = false;
  app.tray.OnPortChangeAnnounced();
  shell.store.writeResult = true;
  ChooseSettings({"17495"});
  EXPECT_EQ(shell.dialog.initialText, "17495");
  EXPECT_FALSE(shell.server.clientsDropped);
  EXPECT_EQ(shell.store.values["port"], "17495");  // the store follows the running port again
}

TEST_F(SettingsFlowTest, TheLoginBoxShowsTheStateAndOkAppliesAChangeEvenWhenThePortIsRefused) {
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

TEST_F(SettingsFlowTest, AStoreThatRefusesTheNewPortIsTold) {
  shell.store.writeResult = false;
  ChooseSettings({"8080"});
  EXPECT_EQ(shell.server.Serving(), 8080);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Couldn't store the network port"});
  EXPECT_EQ(shell.Err(), "quavix-server: Couldn't store the network port 8080\n");
}

TEST_F(SettingsFlowTest, TheOutsideBoxShowsTheSettingAndAChangeIsStoredAndApplied) {
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
